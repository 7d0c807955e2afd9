#pragma once

#include <gtest/gtest.h>

// For the cases that run the simulated radio on a real pseudo-terminal: where the system has none
// (TQB9_SIM off) they are skipped, and the rest of their program still runs.
#if TQB9_HAVE_PTY
#define TQB9_NEEDS_PTY() static_cast<void>(0)
#else
#define TQB9_NEEDS_PTY() GTEST_SKIP() << "pseudo-terminals are not available on this system"
#endif

#pragma once

namespace tqb9::perf {

// Child mode of tq-b9-perf: one Start press of the window against device. Exit status 0 when
// the window showed "Completed.".
int windowRun(int argc, char** argv, const char* device);

} // namespace tqb9::perf

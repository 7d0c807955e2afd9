#pragma once

namespace tqb9::perf {

// Child mode of tq-b9-perf: one Start press of the window against device. Exit status 0 when
// the window showed "Completed.".
int windowRun(int argc, char** argv, const char* device);
// Child mode of tq-b9-perf: the flashing station with one tile per device in argv[first..], all
// started together. Exit status 0 when every tile completed. With waitSeconds, Automatic on
// instead, for that long: exit status 0 when every tile is still waiting at the end.
int stationRun(int argc, char** argv, int first, int waitSeconds = 0);

} // namespace tqb9::perf

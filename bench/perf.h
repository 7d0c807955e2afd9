#pragma once

namespace tqb9::perf {

// Child mode of tq-b9-perf: one Start press of the window against device. Exit status 0 when
// the window showed "Completed.".
int windowRun(int argc, char** argv, const char* device);
// Child mode of tq-b9-perf: the flashing station with one tile per device in argv[first..], all
// started together. Exit status 0 when every tile completed. With waitSeconds, Automatic on
// instead, for that long: exit status 0 when every tile is still waiting at the end.
int stationRun(int argc, char** argv, int first, int waitSeconds = 0);
// Child mode of tq-b9-perf: one station tile with Automatic on and a simulated radio in this
// process put on and taken off cycles times. Prints the milliseconds from the radio answering a
// probe to the erase step beginning, and from its removal to the tile waiting again.
int stationCycle(int argc, char** argv, int cycles);

} // namespace tqb9::perf

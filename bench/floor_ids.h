// The controls the benchmark driver and the floors agree on. 113 and 104 are the program's own
// address box and Refresh button; a floor's 104 runs its reading once more.
#pragma once

namespace bench {

constexpr int kIpBox = 113;
constexpr int kQueryButton = 104;
// The microseconds of the floor's last reading, or of its last timer wait.
constexpr int kQueryTime = 200;
// Starts a 300 ms timer in the floor.
constexpr int kTimerButton = 105;

}  // namespace bench

// The clock room. See clock.h.
#include "platform/terminal/clock.h"

#include <ctime>

namespace {

struct GameClock {
    long offsetNs; // the time of day less the monotonic clock, at start
    long stoodNs;  // how long the game has stood still since
};
GameClock gameClock;

long nanoseconds(const timespec& t) { return t.tv_sec * 1'000'000'000L + t.tv_nsec; }

} // namespace

long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return nanoseconds(now);
}

void gameClockStart()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    gameClock.offsetNs = nanoseconds(now) - monotonicNs();
    gameClock.stoodNs = 0;
}

void gameClockStood(long ns) { gameClock.stoodNs += ns; }

int gameClockSeconds()
{
    return static_cast<int>((gameClock.offsetNs + monotonicNs() - gameClock.stoodNs) /
                            1'000'000'000L);
}

// The clock room. See clock.h.
#include "platform/terminal/clock.h"

#include <ctime>

namespace {

struct GameClock {
    long offsetNs; // the time of day less the monotonic clock, at start
    long stoodNs;  // how long the game has stood still since
};
GameClock game;

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
    game.offsetNs = nanoseconds(now) - monotonicNs();
    game.stoodNs = 0;
}

void gameClockStood(long ns) { game.stoodNs += ns; }

int gameClockSeconds()
{
    return static_cast<int>((game.offsetNs + monotonicNs() - game.stoodNs) / 1'000'000'000L);
}

// The frame loop allocates nothing: every allocation in the process is
// counted while a whole game is played after start-up.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "game/game.h"
#include "platform/platform.h"
#include "support.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* allocate(std::size_t size)
{
    if (counting)
        ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

TEST(Allocation, NoneOnceTheLoopRuns)
{
    // Down held throughout: pieces land, rows fill, and the game ends.
    memReset(findStart({3, 2, 1, 0}), 5, 5000);
    memHold(keyDown, 0, 5000);
    int frames = 0;
    mem.onFrameEnd = [&](int) {
        ++frames;
        counting = true;
    };
    platformOpen(screenColumnsNeeded, screenRowsNeeded);
    const int status = runGame();
    counting = false;
    platformClose();
    EXPECT_EQ(status, 0);
    EXPECT_GT(frames, 20);
    EXPECT_EQ(memText(0, gameOverRow, 9), "Game Over");
    EXPECT_EQ(allocations.load(), 0);
}

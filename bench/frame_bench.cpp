// What one frame costs on the memory console, by kind of frame. The loop's
// own counters are kept here as runGame keeps them, and put back where a
// frame would move the game on (so that every iteration is the same frame).
#include <benchmark/benchmark.h>

#include <cstring>

#include "console/console.h"
#include "game/game.h"
#include "platform/memory/memory.h"
#include "platform/platform.h"

namespace {

struct Loop {
    Player p1;
    LoopCounters c{1, 3, 40, 0};
};

// A game under way: the well drawn, the piece in the middle of it.
Loop started(int kind)
{
    memReset(1000000, 0, 1);
    Loop l;
    initPlayer(l.p1, 0, 0);
    std::memcpy(l.p1.block, blockTemplate(kind), sizeof l.p1.block);
    l.p1.bt = kind;
    l.p1.bx = 6;
    l.p1.by = 4;
    l.c.last_time = wallClock();
    drawTable(l.p1);
    drawWorld(l.p1);
    drawBlock(l.p1);
    return l;
}

void frame(benchmark::State& state, Loop& l, unsigned keys, int tick)
{
    mem.keys[0] = keys;
    const Player start = l.p1;
    for (auto _ : state) {
        mem.frame = 0;
        l.c.tick = tick;
        l.c.sleep_value = 40;
        benchmark::DoNotOptimize(playFrame(l.p1, l.c));
        l.p1.bx = start.bx;
        l.p1.by = start.by;
    }
}

void idleFrame(benchmark::State& state)
{
    Loop l = started(3);
    frame(state, l, 0, 1);
}

void allFourControls(benchmark::State& state)
{
    // Up is polled on even frames; left and right undo each other; down is
    // put back after each frame.
    Loop l = started(3);
    frame(state, l, keyBit(keyUp) | keyBit(keyLeft) | keyBit(keyRight) | keyBit(keyDown), 2);
}

void gravityFrame(benchmark::State& state)
{
    Loop l = started(3);
    frame(state, l, 0, 10);
}

void landingFrameClearingTwoRows(benchmark::State& state)
{
    // A square drops into the last gap of rows 11 and 12: both clear, the
    // board is read back and redrawn, and the next piece comes in. Each
    // iteration starts again from that board (the copy is part of the cost).
    Loop l = started(0);
    for (int c = 1; c <= 16; ++c)
        l.p1.table[11][c] = l.p1.table[12][c] = blockCell;
    for (int c = 1; c <= 18; c += 3)
        l.p1.table[10][c] = blockCell;
    l.p1.bx = 15; // square in columns 17-18
    l.p1.by = 9;  // rows 10-11; gravity takes it to rows 11-12, onto the floor
    drawTable(l.p1);
    drawBlock(l.p1);
    const Loop before = l;
    for (auto _ : state) {
        l = before;
        mem.frame = 0;
        l.c.tick = 10;
        benchmark::DoNotOptimize(playFrame(l.p1, l.c));
    }
    state.counters["score"] = l.p1.score;
}

} // namespace

BENCHMARK(idleFrame);
BENCHMARK(allFourControls);
BENCHMARK(gravityFrame);
BENCHMARK(landingFrameClearingTwoRows);
BENCHMARK_MAIN();

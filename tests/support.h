// Shared by the suites: hand-built records, screen views of the memory
// console, and whole games played frame by frame with a scripted player.
#pragma once

#include <array>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "platform/memory/memory.h"

using Cell = std::pair<int, int>; // (row, column)

// The exit prompt, as the player reads it.
constexpr const char* promptText = "Kilepeshez nyomjon ENTER-t";

// A record on the empty board holding a piece of the kind at (bx, by).
Player pieceAt(int kind, int bx, int by);
// Board cells (row, column) of a piece grid placed at (bx, by).
std::set<Cell> cellsOf(const int (&grid)[blockHeight][blockWidth], int bx, int by);
// Grid cells (row, column) holding blockCell.
std::set<Cell> gridCells(const int (&grid)[blockHeight][blockWidth]);

// The kinds a game started at that second deals, in order.
std::vector<int> dealtKinds(int start, int count);
// The first start second from `from` on whose game deals these kinds first.
int findStart(const std::vector<int>& kinds, int from = 1000000);

// The whole console after one frame.
struct Shot {
    int frame;
    bool landed; // the board was redrawn: a piece landed in this frame
    int second;  // the wall clock as the frame ended
    long sleeps; // sleeps requested so far
    int sleptMs; // length of the last sleep requested
    std::array<std::array<unsigned char, MemoryConsole::width>, MemoryConsole::height> screen;

    int at(int row, int column) const { return screen[row][column]; }
    std::string text(int x, int y, int n) const;
    std::set<Cell> blocks() const; // cells showing blockCell in the playing area
};

// One game on the memory console. `player` sees each frame as it ends and
// answers with the key bits (keyBit) to hold on the next frame.
struct Game {
    explicit Game(int start, int frameCostMs = 0, int maxFrames = 4000);

    std::function<unsigned(const Shot&)> player;
    std::vector<Shot> shots; // every frame, in order
    int status = -1;

    void run();
    // Cells of the falling piece in a frame: what shows blockCell beyond the board
    // as it stood at the last landing.
    std::set<Cell> falling(int frame) const;
    int landingAfter(int frame) const; // first landing frame from `frame` on, or -1
};

// A player that steers each piece by a plan: turns, then a sideways shift,
// then Down held until it lands. Every piece past the plan is dropped as is.
struct Move {
    int turns;
    int shift;        // columns, negative to the left
    bool drop = true; // hold Down afterwards, or let gravity take it
};
std::function<unsigned(const Shot&)> steer(std::vector<Move> plan);

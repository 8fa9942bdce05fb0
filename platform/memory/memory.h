// An in-memory console for tests and benchmarks: a grid of codes, a cursor,
// keys scripted per frame, a virtual clock and counters of what was done.
//
// Frames are found without any hook in the game: by the frame contract
// (platform.h) Escape is polled exactly once at the end of every frame, so
// the Escape polls so far are the frame number, and the Escape poll is
// where a frame's end is reported, the clock moves on and the next frame's
// keys take effect. The clock moves only by the game's sleeps and a chosen cost per
// frame, and the pieces are seeded from that clock, so a start time and a
// key script fix a whole game.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct MemoryConsole {
    static constexpr int width = 80;
    static constexpr int height = 25;

    unsigned char screen[height][width]; // codes shown, spaces at start
    int cx, cy;                          // cursor

    // Script
    std::vector<unsigned> keys;          // per frame: bits of the keys held (keyBit)
    int maxFrames;                       // Escape is pressed by itself on this frame
    std::function<void(int)> onFrameEnd; // called at each Escape poll with the frame number
    int frameCostMs;                     // virtual work per frame, besides the sleep
    int screenError;                     // what the screen query answers (0 = fine)
    bool readFails;                      // every read-back fails

    // State and counters
    int frame;                    // Escape polls so far
    long long clockMs;            // virtual time since the start second
    int startSeconds;             // wall clock at the start
    std::vector<unsigned> polled; // per frame: bits of the keys polled
    long cellsWritten;            // cells printed, texts included
    long cellsRead;               // read-back attempts
    long cursorMoves;             // accepted cursor moves
    long keyPolls;                // polls of any key
    long sleeps;                  // sleeps requested
    int lastSleepMs;              // length of the last one
    int enterWaits;               // calls of waitForEnter
    int promptX, promptY;         // cursor when the wait began
    bool open;
};

extern MemoryConsole mem;

// A clean console: blank screen, no keys, clock at startSeconds.
void memReset(int startSeconds = 1000000, int frameCostMs = 0, int maxFrames = 20000);
// Bit of a key in the per-frame masks.
unsigned keyBit(int key);
// Holds key down on frames first to last, inclusive.
void memHold(int key, int first, int last);
inline void memPress(int key, int frame) { memHold(key, frame, frame); }
// Whether key was polled on a frame.
bool memPolled(int key, int frame);

// Reading the screen
int memCode(int x, int y);
std::string memRow(int y); // a row as text, codes mapped to ASCII
std::string memText(int x, int y, int n);

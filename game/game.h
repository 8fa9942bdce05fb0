// The game loop: start-up, the frames with their controls, gravity and
// pacing, and the exit prompt.
#pragma once

#include "model/player.h"

// Plays one whole game on whatever console is linked in; returns the exit
// status, 0 on both ways out (Escape or game over).
int runGame();

// ---- Steps of a frame --------------------------------------------------

// Gravity acts on every frame whose tick is a multiple of this: at the
// governed pace of about eleven frames a second, a row every 0.9 seconds.
constexpr int gravityPeriod = 10;
// A Down that finds the piece resting sets the tick to this: a multiple of
// the period (any would do), so that gravity later in the same frame moves
// the piece into its resting place and lands it at once. The count runs on
// from there, the next gravity frame a whole period later.
constexpr int tickAfterDown = 5 * gravityPeriod;

// The loop's own counters: a local of runGame, passed to each frame.
struct LoopCounters {
    int tick = 0;        // frame counter: parity drives rotation, gravityPeriod gravity
    int fps = 0;         // frames counted since the last rate report
    int sleep_value = 1; // ms to sleep each frame; no floor, no ceiling
    int last_time = 0;   // second of the last rate report
};

// One whole frame. Returns 1 when the loop ends: game over, or Escape.
int playFrame(Player& p1, LoopCounters& loop);

// Steps 1 to 4: rotate (even frames only), left, right, down. A down move
// that finds the piece resting sets tick to tickAfterDown.
void applyControls(Player& p1, int& tick);
// Steps 5 and 6 on a gravity frame: drop, redraw the panel, land if resting.
// Returns 1 when the landing ended the game.
int gravityAndLanding(Player& p1);

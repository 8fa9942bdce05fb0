// The game loop: start-up, the frames with their controls, gravity and
// pacing, and the exit prompt.
#pragma once

#include "model/player.h"

// Plays one whole game on whatever console is linked in; returns the exit
// status, 0 on both ways out (Escape or game over).
int runGame();

// ---- Steps of a frame --------------------------------------------------

// The loop's own counters: a local of runGame, passed to each frame.
struct LoopCounters {
    int tick = 0;        // frame counter: parity drives rotation, tens drive gravity
    int fps = 0;         // frames counted since the last rate report
    int sleep_value = 1; // ms to sleep each frame; no floor, no ceiling
    int last_time = 0;   // second of the last rate report
};

// One whole frame. Returns 1 when the loop ends: game over, or Escape.
int playFrame(Player& p1, LoopCounters& loop);

// Steps 1 to 4: rotate (even frames only), left, right, down. A down move
// that finds the piece resting sets tick to 50 to force gravity this frame.
void applyControls(Player& p1, int& tick);
// Steps 5 and 6 on a gravity frame: drop, redraw the panel, land if resting.
// Returns 1 when the landing ended the game.
int gravityAndLanding(Player& p1);

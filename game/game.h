// The game loop: start-up, the frames with their controls, gravity and
// pacing, and the exit prompt.
#pragma once

#include "model/player.h"

// Plays one whole game on whatever console is linked in; returns the exit
// status, 0 on both ways out (Escape or game over).
int runGame();

// ---- Steps of a frame --------------------------------------------------

// One whole frame over the loop's own counters, which stay locals of
// runGame. Returns 1 when the loop ends: game over, or Escape.
int playFrame(Player& p1, int& tick, int& fps, int& sleep_value, int& last_time);

// Steps 1 to 4: rotate (even frames only), left, right, down. A down move
// that finds the piece resting sets tick to 50 to force gravity this frame.
void applyControls(Player& p1, int& tick);
// Steps 5 and 6 on a gravity frame: drop, redraw the panel, land if resting.
// Returns 1 when the landing ended the game.
int gravityAndLanding(Player& p1);

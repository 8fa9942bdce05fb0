// The clock room of the terminal backend: the monotonic clock, which the
// frame's pause, the prompt's waits and the game's clock run on; and the
// game's clock, the time of day run on by the monotonic clock less the time
// the game stood still, so that after a stop it goes on from where it stood
// and the governor sees no slow second.
#pragma once

// The monotonic clock, in nanoseconds.
long monotonicNs();

// Sets the game's clock to the time of day.
void gameClockStart();
// The game stood still this long (suspended, or waiting for a terminal large
// enough): its clock does not count it.
void gameClockStood(long ns);
// The game's clock, in whole seconds.
int gameClockSeconds();

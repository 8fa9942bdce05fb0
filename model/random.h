// The source of piece kinds. A small generator of our own rather than the C
// library's rand(), so that one seed deals the same pieces on every platform
// and a recorded game can be replayed anywhere.
#pragma once

void seedRandom(unsigned seed);
int nextRandom(); // 0 to 2^31 - 1

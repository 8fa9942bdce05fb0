#include "model/random.h"

#include <cstdint>

// The generator's whole state: a 64-bit linear congruential sequence whose
// output is permuted (the PCG32 scheme). Unlike the low bits of a plain
// 32-bit LCG, every output bit is well mixed, so the kinds taken modulo 4
// do not fall into a short cycle.
static std::uint64_t randomState = 0;

static std::uint32_t nextOutput()
{
    const std::uint64_t old = randomState;
    randomState = old * 6364136223846793005ULL + 1442695040888963407ULL;
    const auto xorshifted = static_cast<std::uint32_t>(((old >> 18u) ^ old) >> 27u);
    const auto rot = static_cast<std::uint32_t>(old >> 59u);
    return (xorshifted >> rot) | (xorshifted << ((32u - rot) & 31u));
}

void seedRandom(unsigned seed)
{
    randomState = 0;
    nextOutput();
    randomState += seed;
    nextOutput();
}

int nextRandom() { return static_cast<int>(nextOutput() >> 1); }

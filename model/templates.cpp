// The empty board and the four piece shapes, copied into the record, never
// referenced by it.
#include "model/player.h"

namespace {
constexpr int E = emptyCell;
constexpr int W = wallCell;
constexpr int B = blockCell;
} // namespace

// The grids are laid out as they look.
// clang-format off

// Walls in columns 0 and 19, the floor on row 13, and a row of 0 below the
// floor that no piece ever reaches.
const int masterTable[mapHeight][mapWidth] = {
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, E, W},
    {W, W, W, W, W, W, W, W, W, W, W, W, W, W, W, W, W, W, W, W},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};

const int block1[blockHeight][blockWidth] = {
    {E, E, E, E, E},
    {E, E, B, B, E},
    {E, E, B, B, E},
    {E, E, E, E, E},
    {E, E, E, E, E},
};

const int block2[blockHeight][blockWidth] = {
    {E, E, B, E, E},
    {E, E, B, E, E},
    {E, E, B, E, E},
    {E, E, B, E, E},
    {E, E, E, E, E},
};

const int block3[blockHeight][blockWidth] = {
    {E, E, B, E, E},
    {E, E, B, E, E},
    {E, E, B, B, E},
    {E, E, E, E, E},
    {E, E, E, E, E},
};

const int block4[blockHeight][blockWidth] = {
    {E, E, E, E, E},
    {E, E, B, E, E},
    {E, B, B, B, E},
    {E, E, E, E, E},
    {E, E, E, E, E},
};

// clang-format on

const int (&blockTemplate(int kind))[blockHeight][blockWidth]
{
    switch (kind) {
    case 0: return block1;
    case 1: return block2;
    case 2: return block3;
    default: return block4;
    }
}

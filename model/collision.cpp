// The two position tests and the turn. There is no overlap test: a piece is
// judged only by what lies directly below its cells, so it may pass over a
// landed cell that has room beneath it.
#include "model/player.h"

// Calls hit(c, b) for every piece cell, row by row, whose board column c and
// row-below b both lie on the board, and returns 1 at the first hit.
template <typename Hit> static int anyCellBelow(const Player& p, Hit hit)
{
    for (int j = 0; j < blockHeight; ++j) {
        for (int i = 0; i < blockWidth; ++i) {
            const int c = p.bx + i;
            const int b = p.by + j + 1;
            if (!onBoard(c, b))
                continue;
            if (p.block[j][i] == emptyCell)
                continue;
            if (hit(c, b))
                return 1;
        }
    }
    return 0;
}

int collided(const Player& p)
{
    // Walls, the floor, landed cells and the zeros below the floor all count.
    return anyCellBelow(p, [&](int c, int b) { return p.table[b][c] != emptyCell; });
}

int checkWallColl(const Player& p)
{
    // The board is not read; the row filter alone makes a cell on row -1
    // count and one on row -2 not.
    return anyCellBelow(p, [](int c, int) { return c == 0 || c == mapWidth - 1; });
}

void rotateBlock(Player& p)
{
    // Turned into a scratch grid first, so no cell is read after it has been
    // overwritten. Four turns give back the grid exactly.
    int turned[blockHeight][blockWidth];
    for (int r = 0; r < blockHeight; ++r)
        for (int c = 0; c < blockWidth; ++c)
            turned[r][c] = p.block[blockHeight - 1 - c][r];
    for (int r = 0; r < blockHeight; ++r)
        for (int c = 0; c < blockWidth; ++c)
            p.block[r][c] = turned[r][c];
}

// Landing: the piece joins the board, full rows go, and the top row decides
// whether the game goes on.
#include "console/console.h"
#include "model/player.h"

void placeBlock(Player& p)
{
    // Off-board cells are dropped and whatever the board held is
    // overwritten. Nothing is drawn: the piece is already on the screen.
    for (int j = 0; j < blockHeight; ++j) {
        for (int i = 0; i < blockWidth; ++i) {
            if (p.block[j][i] == emptyCell)
                continue;
            const int r = p.by + j;
            const int c = p.bx + i;
            if (onBoard(c, r))
                p.table[r][c] = p.block[j][i];
        }
    }
}

static bool rowFull(const Player& p, int j)
{
    for (int i = 0; i < mapWidth; ++i)
        if (p.table[j][i] == emptyCell)
            return false;
    return true;
}

void checkLines(Player& p)
{
    // One pass from the top finds every full row: after a clear, the row now
    // at j came from j - 1 and was already found not full.
    for (int j = 0; j <= lowestPlayRow; ++j) {
        if (!rowFull(p, j))
            continue;
        for (int i = 1; i <= mapWidth - 2; ++i) {
            p.table[j][i] = emptyCell;
            ++p.score;
        }
        // Row 0 is copied down and keeps its cells: only a full row 0,
        // cleared itself, is ever emptied.
        for (int k = j; k >= 1; --k)
            for (int i = 1; i <= mapWidth - 2; ++i)
                p.table[k][i] = p.table[k - 1][i];
    }
    drawTable(p);
}

int checkGameOver(const Player& p)
{
    for (int i = 1; i <= mapWidth - 2; ++i)
        if (p.table[0][i] != emptyCell)
            return 1;
    return 0;
}

// A fresh game and the arrival of each next piece.
#include <cstring>

#include "model/player.h"
#include "model/random.h"

static int randomKind() { return nextRandom() % 4; }

void initPlayer(Player& p, int ox, int oy)
{
    p.ox = ox;
    p.oy = oy;
    p.score = 0;
    p.nb = randomKind();
    std::memcpy(p.table, masterTable, sizeof p.table);
    // newBlock moves nb into bt and deals a new nb: the first falling piece
    // and the first preview are both random.
    newBlock(p);
}

void newBlock(Player& p)
{
    // Three rows above the board: only the bar reaches row 0 at once.
    // Whether the new piece fits is not asked here; the next gravity step
    // will tell.
    p.bx = 2;
    p.by = -3;
    p.bt = p.nb;
    p.nb = randomKind();
    std::memcpy(p.block, blockTemplate(p.bt), sizeof p.block);
}

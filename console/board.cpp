// The board and the falling piece on the screen. The piece is never part of
// the board until it lands, so it moves by erase, change, draw.
#include "console/console.h"

void drawTable(const Player& p)
{
    // Read back before writing: a redraw after a landing costs one write per
    // cell that actually changed, and the first one draws over whatever the
    // console showed before.
    for (int j = 0; j < mapHeight; ++j) {
        for (int i = 0; i < mapWidth; ++i) {
            if (charAt(static_cast<short>(p.ox + i), static_cast<short>(p.oy + j)) == p.table[j][i])
                continue;
            gotoxy(p.ox + i, p.oy + j);
            putCode(p.table[j][i]);
        }
    }
}

// Visits every on-board cell of the piece grid; the piece's own cells get
// their code, or a space when erasing. Blank grid cells let the board show
// through, and cells off the board are never touched.
static void walkBlock(const Player& p, bool erase)
{
    for (int j = 0; j < blockHeight; ++j) {
        for (int i = 0; i < blockWidth; ++i) {
            const int c = p.bx + i;
            const int r = p.by + j;
            if (!onBoard(c, r))
                continue;
            gotoxy(p.ox + c, p.oy + r);
            if (p.block[j][i] != emptyCell)
                putCode(erase ? emptyCell : p.block[j][i]);
        }
    }
}

void drawBlock(const Player& p)
{
    walkBlock(p, false);
    gotoxy(0, 0);
}

void deleteBlock(const Player& p)
{
    // Spaces, whatever the board holds there: a landed cell the piece
    // covered shows blank until the next landing redraws the board.
    walkBlock(p, true);
}

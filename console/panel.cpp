// The score line and the preview of the next piece.
#include "console/console.h"

void drawWorld(const Player& p)
{
    // The score never falls, so a longer number always covers a shorter one.
    gotoxy(0, scoreRow);
    printText("Score: %d", p.score);
    gotoxy(panelColumn, 0);
    printText("Next:\n");
    drawNextBlock(p, panelColumn, previewRow);
    gotoxy(0, scoreRow);
}

void drawNextBlock(const Player& p, int x, int y)
{
    // Blanks are printed too, so each preview wholly replaces the last.
    const auto& shape = blockTemplate(p.nb);
    for (int j = 0; j < blockHeight; ++j) {
        for (int i = 0; i < blockWidth; ++i) {
            gotoxy(x + i + p.ox, y + j + p.oy);
            putCode(shape[j][i]);
        }
    }
}

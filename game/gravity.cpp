// Gravity and landing: on every gravity frame (see gravityPeriod) the piece
// drops one row untested, and if it then rests it lands on that same frame.
#include "console/console.h"
#include "game/game.h"

int gravityAndLanding(Player& p1)
{
    deleteBlock(p1);
    ++p1.by;
    drawBlock(p1);
    drawWorld(p1);

    if (!collided(p1))
        return 0;
    placeBlock(p1);
    checkLines(p1);
    if (checkGameOver(p1)) {
        gotoxy(0, gameOverRow);
        printText("Game Over");
        return 1;
    }
    // The new piece is drawn by the next control that fires or the next
    // gravity frame, and the panel catches up on that gravity frame.
    newBlock(p1);
    return 0;
}

// The player's four controls. The rule behind every one: a piece is never
// moved or turned into a place where it rests. It comes to rest only by
// falling, and then lands at once.
#include "console/console.h"
#include "game/game.h"
#include "platform/platform.h"

static void rotateControl(Player& p1, int tick)
{
    // The key is polled before the kind is looked at, so an Up pressed while
    // the square falls is used up and not carried over to the next piece.
    if (tick % 2 != 0 || !keyPressed(keyUp) || p1.bt == 0)
        return;
    deleteBlock(p1);
    rotateBlock(p1);
    if (collided(p1)) {
        // Three more quarter turns restore the grid exactly.
        rotateBlock(p1);
        rotateBlock(p1);
        rotateBlock(p1);
    }
    drawBlock(p1);
}

static void sideControl(Player& p1, int key, int step)
{
    if (!keyPressed(key))
        return;
    deleteBlock(p1);
    p1.bx += step;
    if (checkWallColl(p1) || collided(p1))
        p1.bx -= step;
    drawBlock(p1);
}

static void downControl(Player& p1, int& tick)
{
    if (!keyPressed(keyDown))
        return;
    deleteBlock(p1);
    ++p1.by;
    if (collided(p1)) {
        // Step back, and let gravity later in this frame move the piece into
        // its resting place and land it.
        --p1.by;
        tick = tickAfterDown;
    }
    drawBlock(p1);
}

void applyControls(Player& p1, int& tick)
{
    rotateControl(p1, tick);
    sideControl(p1, keyLeft, -1);
    sideControl(p1, keyRight, +1);
    downControl(p1, tick);
}

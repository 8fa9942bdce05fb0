// blockfall: a falling-block puzzle for the text console.
#include "console/console.h"
#include "game/game.h"
#include "platform/platform.h"

int main()
{
    // Arguments are ignored. A console we cannot play on has already been
    // explained on standard error.
    if (!platformOpen(screenColumnsNeeded, screenRowsNeeded))
        return 1;
    const int status = runGame();
    platformClose();
    return status;
}

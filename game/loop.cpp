// Start-up, the frame loop and its self-tuning pace, and the exit prompt.
#include "console/console.h"
#include "game/game.h"
#include "model/random.h"
#include "platform/platform.h"

int playFrame(Player& p1, LoopCounters& loop)
{
    auto& [tick, fps, sleep_value, last_time] = loop;
    applyControls(p1, tick);
    if (tick % gravityPeriod == 0 && gravityAndLanding(p1))
        return 1;

    // Everything drawn this frame goes out together, before the pause.
    conFlush();
    if (sleep_value > 0)
        sleepMs(sleep_value);
    ++tick;
    ++fps;

    if (wallClock() - last_time > 0) {
        gotoxy(0, rateRow);
        printText("%dFPS", fps);
        fps = 0;
        last_time = wallClock();
    }
    // The governor: a second's frames counted 0 to 4 shorten the sleep, 6 and
    // up lengthen it, so the pace settles near eleven frames a second. A
    // machine too slow for that drives the sleep below zero.
    if (fps > 5)
        ++sleep_value;
    else if (fps <= 4)
        --sleep_value;
    gotoxy(1, sleepRow);
    printText("%d", sleep_value);

    return keyPressed(keyEscape);
}

int runGame()
{
    seedRandom(static_cast<unsigned>(wallClock()));
    Player p1;
    initPlayer(p1, 0, 0);
    LoopCounters loop;
    loop.last_time = wallClock();
    // The screen is not cleared: the well is drawn over whatever is there.
    drawTable(p1);

    while (!playFrame(p1, loop)) {
    }

    // Nothing discards what was typed during play: an Enter typed then
    // answers this prompt at once.
    printText("\nKilepeshez nyomjon ENTER-t");
    conFlush();
    waitForEnter();
    return 0;
}

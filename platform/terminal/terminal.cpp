// The terminal backend for Linux and macOS, as the seam sees it: what happens
// when. Its rooms do the work: the session (description, modes, hangup), the
// signals (requests, suspension, the crash reset), the screen (the text
// library's shadow, update, glyphs and the terminal's size), the input (keys,
// protocol, the pause, the prompt's line) and the clock (the monotonic one
// and the game's). Only this file makes one room act on what another noted;
// the game's clock stands whenever the game does.
#include <cstdio>
#include <ctime>

#include "platform/platform.h"
#include "platform/terminal/clock.h"
#include "platform/terminal/confine.h"
#include "platform/terminal/input.h"
#include "platform/terminal/session.h"
#include "platform/terminal/signals.h"
#include "platform/text/screen.h"

namespace {

struct Backend {
    int minColumns, minRows; // the least the whole game shows in
};
Backend backend;

// While the game stands still, its clock does too.
template <typename Wait> void standStill(Wait wait)
{
    const long from = monotonicNs();
    wait();
    gameClockStood(monotonicNs() - from);
}

bool tooSmall() { return screenColumns() < backend.minColumns || screenRows() < backend.minRows; }

// The prompt's row after its text, less the last column: the line never wraps.
int promptLineColumns() { return screenColumns() - 1 - screenCursorColumn(); }

// What fits the size as last read: the whole screen with the line typed at
// the prompt, or a line alone saying what the game needs and what it has.
void showForSize()
{
    if (tooSmall()) {
        const char* const wordings[] = {"blockfall needs a terminal of %dx%d; this one is %dx%d",
                                        "blockfall needs %dx%d; this is %dx%d",
                                        "needs %dx%d (%dx%d)"};
        char line[80] = "";
        for (const char* wording : wordings) // the longest that fits
            if (std::snprintf(line, sizeof line, wording, backend.minColumns, backend.minRows,
                              screenColumns(), screenRows()) <= screenColumns())
                break;
        screenShowAlone(line);
    } else {
        screenRepaint();
        inputShowLine(promptLineColumns());
    }
    screenFlush();
}

void enterTerminal()
{
    sessionEnter();
    screenEnter();
    showForSize();
}

// The terminal as it was found: protocol off, cursor shown, our screen and modes left.
void giveBack()
{
    inputProtocolOff();
    screenLeave();
    sessionLeave();
}

void leaveTerminal()
{
    if (!sessionInUse())
        return;
    inputCollectLateAnswer();
    giveBack();
}

// An ending signal gives the terminal back and ends the process as it would;
// Ctrl-Z stands the game still till the shell continues it; a resize shows what fits.
void actOnSignals()
{
    if (const int sig = signalsEndingSignal(); sig != 0) {
        leaveTerminal();
        signalsEndBy(sig);
    }
    if (signalsTakeSuspend())
        standStill([] {
            if (sessionInUse())
                giveBack();
            signalsStop();
            enterTerminal();
            inputProtocolOn();
            screenFlush();
        });
    if (signalsTakeResize()) {
        sessionReadSize();
        showForSize();
    }
}

// Until a key, a signal, or a moment for another look at the size.
void waitWhileTooSmall()
{
    if (!inputWait(200'000'000L)) {
        // The terminal cannot be waited on; the clock still can.
        timespec rest{0, 200'000'000L};
        nanosleep(&rest, nullptr);
    }
}

// The frame's one contact with the outside (see platform.h), and the prompt's.
// A terminal too small for the game stands it still, as Ctrl-Z does, until it
// is large enough (drawn whole, the game going on from the same frame), the
// player answers (Escape in play, Enter at the prompt) or a signal ends it.
// Held keys are let go; each wake-up looks at the size, lest a signal be missed.
void contact(bool (*answered)())
{
    actOnSignals();
    while (sessionInUse() && tooSmall() && !answered()) {
        standStill(waitWhileTooSmall);
        inputLetGo();
        actOnSignals();
        if (sessionReadSize())
            showForSize();
    }
}

} // namespace

int platformOpen(int columns, int rows)
{
    ScreenStrings strings;
    if (!sessionOpen(strings, columns, rows))
        return 0;
    backend.minColumns = columns;
    backend.minRows = rows;
    gameClockStart();
    screenStart(strings);
    signalsCatch();
    enterTerminal();
    inputStart();
    screenFlush();
    confineToTerminal();
    return 1;
}

void platformClose() { leaveTerminal(); }

int keyPressed(int key)
{
    // One read here serves the next frame: what came in the pause is seen at once.
    if (key == keyEscape) {
        inputDrain();
        contact(inputEscapePressed);
    }
    return inputPolled(key);
}

void waitForEnter()
{
    inputDrain();
    contact(inputEnterSeen);
    if (inputEnterSeen())
        return;
    // Plain keys from here on, edited as a line; the cursor after the prompt.
    inputEnterPrompt(sessionLineKeys(), promptLineColumns());
    screenShowCursor();
    conFlush();
    for (;;) {
        // A hangup noted by the wait ends the process here, as SIGHUP does.
        contact(inputEnterSeen);
        if (inputEnterSeen() || !inputWait())
            return;
    }
}

void sleepMs(int ms) { inputPause(ms); }

int wallClock() { return gameClockSeconds(); }

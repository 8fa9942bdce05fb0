// The terminal backend for Linux and macOS, as the seam sees it: what
// happens when. The work is done in its rooms: the session (the terminal's
// description and modes, entering and leaving, hangup), the signals (their
// requests, suspension, the crash reset), the screen (the text library's:
// the shadow, the once-a-frame update, the glyphs) and the input (key
// states, the keyboard protocol, the frame's pause as a wait on the
// terminal, the prompt's line). Only this file makes one room act on what
// another noted, and it keeps the game's clock, which stands whenever the
// game does.
#include <cstdio>
#include <ctime>

#include "platform/platform.h"
#include "platform/terminal/confine.h"
#include "platform/terminal/input.h"
#include "platform/terminal/session.h"
#include "platform/terminal/signals.h"
#include "platform/text/screen.h"

namespace {

struct Backend {
    int minColumns, minRows; // the least the whole game shows in
    bool alone;              // the terminal shows only the line that says it is too small
    bool prompting;          // past play: the player answers with Enter, not Escape
    long offsetNs;           // the time of day less the monotonic clock, at start
    long stoodNs;            // how long the game has stood still since
};
Backend b;

// The game's clock is the time of day, run on by the monotonic clock less
// the time the game stood still (suspended, or waiting for a terminal large
// enough to be seen in): after a stop it goes on from where it stood, and
// the pace governor sees no slow second in it.
void startClock()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    b.offsetNs = now.tv_sec * 1'000'000'000L + now.tv_nsec - monotonicNs();
    b.stoodNs = 0;
}

template <typename Wait> void standStill(Wait wait)
{
    const long from = monotonicNs();
    wait();
    b.stoodNs += monotonicNs() - from;
}

bool tooSmall() { return sessionColumns() < b.minColumns || sessionRows() < b.minRows; }

// What the player reads while the terminal is too small: what the game
// needs and what it has, in the longest of these wordings that fits.
void showTooSmall()
{
    const char* const wordings[] = {"blockfall needs a terminal of %dx%d; this one is %dx%d",
                                    "blockfall needs %dx%d; this is %dx%d", "needs %dx%d (%dx%d)"};
    char line[80] = "";
    for (const char* wording : wordings)
        if (std::snprintf(line, sizeof line, wording, b.minColumns, b.minRows, sessionColumns(),
                          sessionRows()) <= sessionColumns())
            break;
    screenShowAlone(line);
    screenFlush();
    b.alone = true;
}

void enterTerminal()
{
    sessionEnter();
    screenResize(sessionRows(), sessionColumns());
    screenEnter();
    screenFlush();
    b.alone = false;
}

// The terminal's size read again, and what fits shown: the whole screen, or
// the line that says it is too small.
void showForSize()
{
    sessionReadSize();
    screenResize(sessionRows(), sessionColumns());
    if (tooSmall()) {
        showTooSmall();
        return;
    }
    screenRepaint();
    screenFlush();
    b.alone = false;
}

// While the game stands still the size is looked at on every wake-up too:
// a change whose signal came just before the wait is not missed.
bool sizeChanged()
{
    const int rows = sessionRows();
    const int columns = sessionColumns();
    sessionReadSize();
    return rows != sessionRows() || columns != sessionColumns();
}

// What the player answers with: Escape in play, Enter (or the end of
// input) at the prompt. It ends a wait for room, as it ends the game.
bool answered() { return b.prompting ? inputEnterSeen() : inputEscapePressed(); }

// One wait while the terminal is too small: until a key, a signal, or a
// moment for another look at the size. Whatever was held is let go.
void waitForRoom()
{
    if (!inputWait(200'000'000L)) {
        // The terminal cannot be waited on; the clock still can.
        timespec rest{0, 200'000'000L};
        nanosleep(&rest, nullptr);
    }
    inputLetGo();
}

// Gives the terminal back as it was found: the protocol off, the cursor
// shown, the alternate screen and our modes left.
void giveBack()
{
    inputPauseProtocol();
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

// Acts on what the signal handlers and the keys noted. An ending signal
// gives the terminal back and ends the process as that signal would. A
// terminal too small to show the whole game makes the game stand still,
// as Ctrl-Z does, until it is large enough again (drawn whole then, the
// game going on from the same frame), the player answers, or a signal ends
// the game.
void actOnRequests()
{
    for (bool standing = false;; standing = true) {
        if (const int sig = signalsEndingSignal(); sig != 0) {
            leaveTerminal();
            signalsEndBy(sig);
        }
        if (signalsTakeSuspend()) {
            standStill([] {
                if (sessionInUse())
                    giveBack();
                signalsStop();
                enterTerminal();
                inputResumeProtocol();
                screenFlush();
            });
        }
        if (signalsTakeResize() || (standing && sizeChanged()))
            showForSize();
        if (!sessionInUse() || !tooSmall() || answered())
            return;
        if (!b.alone)
            showTooSmall();
        standStill(waitForRoom);
    }
}

// The frame's one contact with the outside (see platform.h).
void contact()
{
    inputDrain();
    actOnRequests();
}

} // namespace

int platformOpen(int columns, int rows)
{
    ScreenStrings strings;
    if (!sessionOpen(strings, columns, rows))
        return 0;
    b.minColumns = columns;
    b.minRows = rows;
    startClock();
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
    // One read here serves the whole next frame, and what came during the
    // pause is seen without delay.
    if (key == keyEscape)
        contact();
    return inputPolled(key);
}

void waitForEnter()
{
    b.prompting = true;
    contact();
    if (inputEnterSeen())
        return;
    // Plain keys at the prompt, edited as a line in what is left of the
    // prompt's row (the last column kept free, so the line never wraps),
    // and the cursor after the prompt's text.
    inputEnterPrompt(sessionLineKeys(), sessionColumns() - 1 - screenCursorColumn());
    screenShowCursor();
    conFlush();
    for (;;) {
        // A hangup noted by the wait ends the process here, as SIGHUP does.
        actOnRequests();
        if (inputEnterSeen() || !inputWait())
            return;
    }
}

void sleepMs(int ms) { inputPause(ms); }

int wallClock()
{
    const long now = b.offsetNs + monotonicNs() - b.stoodNs;
    return static_cast<int>(now / 1'000'000'000L);
}

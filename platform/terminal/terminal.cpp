// The terminal backend for Linux and macOS, as the seam sees it: what
// happens when. The work is done in its rooms: the session (the terminal's
// description and modes, entering and leaving, hangup), the signals (their
// requests, suspension, the crash reset), the screen (the text library's:
// the shadow, the once-a-frame update, the glyphs) and the input (key
// states, the keyboard protocol, the frame's pause as a wait on the
// terminal, the prompt's line). Only this file makes one room act on what
// another noted.
#include <ctime>

#include "platform/platform.h"
#include "platform/terminal/input.h"
#include "platform/terminal/session.h"
#include "platform/terminal/signals.h"
#include "platform/text/screen.h"

namespace {

void enterTerminal()
{
    sessionEnter();
    screenResize(sessionRows(), sessionColumns());
    screenEnter();
    screenFlush();
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
// gives the terminal back and ends the process as that signal would.
void actOnRequests()
{
    if (const int sig = signalsEndingSignal(); sig != 0) {
        leaveTerminal();
        signalsEndBy(sig);
    }
    if (signalsTakeSuspend()) {
        if (sessionInUse())
            giveBack();
        signalsStop();
        enterTerminal();
        inputResumeProtocol();
        screenFlush();
    }
    if (signalsTakeResize()) {
        sessionReadSize();
        screenResize(sessionRows(), sessionColumns());
        screenRepaint();
        screenFlush();
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
    screenStart(strings);
    signalsCatch();
    enterTerminal();
    inputStart();
    screenFlush();
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

int wallClock() { return static_cast<int>(std::time(nullptr)); }

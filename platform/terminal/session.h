// The session room of the terminal backend: the terminal's description
// (terminfo), its modes as found and as set, taking it over and giving it
// back, the signals and suspension, and the hangup. It supplies the screen
// room's three routines (its strings, cursor moves and the frame's write).
#pragma once

#include "platform/text/line.h"
#include "platform/text/screen.h"

// Checks that the game can be played here (a terminal on both sides, a known
// type, cursor addressing, at least the size the game needs)
// and reads the terminal's description. On refusal it says why on standard
// error and returns false, having touched nothing; otherwise fills the
// screen's strings.
bool sessionOpen(ScreenStrings& forScreen, int minColumns, int minRows);

// Our modes (keys one by one, unechoed, reads that return at once) and the
// alternate screen; leaving gives back the modes as found (and, without an
// alternate screen, ends the game's last line). Leaving writes out what the
// frame holds first.
void sessionEnter();
void sessionLeave();
bool sessionInUse();
// The line-editing keys of the modes as found: the prompt edits with them.
LineKeys sessionLineKeys();
// The terminal's size now.
int sessionRows();
int sessionColumns();

// ---- Signals -----------------------------------------------------------
// The handlers, and the keys that stand for signals, only note a request;
// the frame's contact with the outside acts on it. The crash signals are
// the exception: the terminal is given back from their handler, which then
// lets the crash take its course. Signals ignored at start stay ignored.

void sessionCatchSignals();
void sessionRequestEnd(int sig);
void sessionRequestSuspend();
// The signal that asks the game to end, 0 when none.
int sessionEndingSignal();
// True once per request: a suspension, a change of size.
bool sessionTakeSuspend();
bool sessionTakeResize();
// Ends the process as the signal would, the terminal already given back.
[[noreturn]] void sessionEndBy(int sig);
// Stops the process until the shell continues it, signals caught again after.
void sessionStop();
// Asked when a read found nothing though the wait said there was
// something: true when the terminal has gone (hung up or closed).
bool sessionTerminalLost();

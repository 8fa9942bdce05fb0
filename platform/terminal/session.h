// The session room of the terminal backend: the terminal's description (as
// the description room reads it), its modes as found and as set, taking it
// over and giving it back, and the hangup. It supplies the screen room's
// three routines (its strings, cursor moves and the frame's write) and the
// terminal's size, and the bytes of the signals' crash reset.
#pragma once

#include "platform/text/line.h"
#include "platform/text/screen.h"

// Checks that the game can be played here (a terminal on both sides, a known
// type, cursor addressing, at least the size the game needs) and reads the
// terminal's description. On refusal it says why on standard error and
// returns false, having touched nothing; otherwise fills the screen's
// strings.
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
// Reads the terminal's size into the screen room, which holds it (see
// screenRows): on opening, on taking it over, and on asking again (true
// when it has changed since).
bool sessionReadSize();

// Asked when a read found nothing though the wait said there was
// something: true when the terminal has gone (hung up or closed).
bool sessionTerminalLost();

// The input room of the terminal backend: the key states, the negotiation
// of the progressive keyboard protocol, reading and decoding the tty's bytes
// (by the text library's decoder), the frame's pause and the exit prompt's
// wait. Keys that stand for signals in the protocol are handed to the
// signals as requests.
#pragma once

#include "platform/text/line.h"

// Forgets every key and starts asking whether the terminal offers the
// protocol; the answer comes in with the keys, so it costs no wait.
void inputStart();
// The frame's pause: a wait on the terminal for the whole time, taking in
// what comes as it comes. A hangup seen there becomes a request to end.
void inputPause(int ms);
// Takes in what the terminal sent, without blocking (and without a read
// when the pause has just found nothing); a frame with nothing new ends a
// sequence left unfinished, a lone ESC then being the Escape key.
void inputDrain();
// 1 when the key is down now or was pressed since its last poll.
int inputPolled(int key);
// Enter, typed in play or at the prompt, or the prompt's line ended.
bool inputEnterSeen();

// Around a time away from the terminal (suspension, the way out): the
// protocol is turned off, and on again on return.
void inputProtocolOff();
void inputProtocolOn();
// On the way out, an answer to the protocol query still on its way would
// land in the shell's input: waits a moment for it.
void inputCollectLateAnswer();

// The prompt: plain keys from here on, as in any other program, edited as
// a line with the terminal's own editing keys, in the columns left on its
// row.
void inputEnterPrompt(LineKeys keys, int maxColumns);
// Shows the line typed so far at the prompt again, after a repaint, in the
// columns left on its row now; nothing before the prompt.
void inputShowLine(int maxColumns);
// Waits until something comes in, a signal arrives, a sequence begun has
// been followed by a silence or the limit passes (none when negative), and shows what
// was typed. A hangup becomes a request to end. False when the terminal can
// no longer be waited on.
bool inputWait(long limitNs = -1);

// While the game stands still: every key held is let go and every press
// not yet polled forgotten, but Escape's, which still ends the game.
void inputLetGo();
bool inputEscapePressed();

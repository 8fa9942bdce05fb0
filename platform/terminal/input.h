// The input room of the terminal backend: the key states, the negotiation
// of the progressive keyboard protocol, reading and decoding the tty's bytes
// (by keys.cpp), and the exit prompt's wait. Keys that stand for signals in
// the protocol are handed to the session as requests.
#pragma once

// Forgets every key and starts asking whether the terminal offers the
// protocol; the answer comes in with the keys, so it costs no wait.
void inputStart();
// Takes in what the terminal sent, without blocking; a pause with nothing
// read finishes a lone ESC.
void inputDrain();
// 1 when the key is down now or was pressed since its last poll.
int inputPolled(int key);
bool inputEnterSeen();

// Around a time away from the terminal (suspension, the way out): the
// protocol is turned off, and on again on return.
void inputPauseProtocol();
void inputResumeProtocol();
// On the way out, an answer to the protocol query still on its way would
// land in the shell's input: waits a moment for it.
void inputCollectLateAnswer();

// The prompt: plain keys from here on, as in any other program.
void inputEnterPrompt();
// Waits until something comes in, a signal arrives or a lone ESC has had its
// pause. False when nothing more will come (input ended, terminal lost): the
// prompt is then answered as Enter would.
bool inputWait();

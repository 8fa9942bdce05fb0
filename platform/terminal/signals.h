// The signals of the terminal backend: the handlers, and the keys that
// stand for signals, only note a request; the frame's contact with the
// outside acts on it. The crash signals are the exception: their handler
// gives the terminal back at once, with what the crash reset holds, and
// then lets the crash take its course; SIGSYS is one of them, the signal of
// a system call the confinement refuses (confine.h). Other signals ignored
// at start stay ignored.
#pragma once

#include <termios.h>

void signalsCatch();
void signalsRequestEnd(int sig);
void signalsRequestSuspend();
// The signal that asks the game to end, 0 when none.
int signalsEndingSignal();
// True once per request: a suspension, a change of size.
bool signalsTakeSuspend();
bool signalsTakeResize();
// Ends the process as the signal would, the terminal already given back.
[[noreturn]] void signalsEndBy(int sig);
// Stops the process until the shell continues it, signals caught again after.
void signalsStop();

// ---- The crash reset ---------------------------------------------------
// What gives the terminal back from a crash signal's handler, where nothing
// but a write and the setting of modes is safe: its bytes (attributes and
// line drawing off, the cursor shown, the alternate screen left, sent with
// one write) put together beforehand, and the modes as found. Kept here
// alone; the session, which knows the terminal's strings, hands them in.

// Starts the bytes afresh (disarmed), then takes them one at a time, as a
// terminfo output routine does (returning the byte); bytes past its 256 are
// dropped.
void signalsStartCrashReset();
int signalsAddToCrashReset(int c);
// While the terminal is ours (armed), a crash gives it back with those
// bytes and these modes.
void signalsArmCrashReset(const termios& asFound);
void signalsDisarmCrashReset();

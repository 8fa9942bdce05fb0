// Confinement of the running game to its terminal. Once start-up is over
// (the terminal's description read, the terminal taken over, the signals
// caught), the game needs nothing of the system but its terminal, its clock
// and its own signals: no file, no network, no other program. From then on
// it asks the system to refuse it everything else, so that a fault in the
// code that reads the terminal's bytes can do no more than end the game.
//
// Linux only (confine.cpp: no_new_privs and a seccomp filter); elsewhere
// (unconfined.cpp) the game plays as it always has.
#pragma once

// Confines the process from now on, unless it runs under a tool that makes
// system calls of its own on the game's behalf (valgrind, a sanitizer's
// runtime), where the filter would stop the tool. True when confined;
// false where the system refuses a filter (an old kernel, a user-mode
// emulator), and the game then plays unconfined, as before.
bool confineToTerminal();

// The filter itself, installed whatever runs the game. A call it does not
// allow is taken for a fault of the game's own: SIGSYS, which the crash
// handlers meet by giving the terminal back before the process dies by it.
bool confineInstallFilter();

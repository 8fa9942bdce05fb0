// Confinement on Linux: no_new_privs, then a seccomp filter, written with
// libseccomp, that allows the system calls the game makes once it plays
// and nothing else. See confine.h.
//
// The list is what the game does on every one of its paths from the end of
// start-up: a frame (the wait on the terminal, a read of its keys, the
// write of the screen's changes, the clock), a change of size, Ctrl-Z and
// the shell's fg, the stand while the terminal is too small, the closing
// prompt, a hangup, an ending signal and death by it, and a crash's
// restore. Anything else is a fault: SIGSYS, not an error code. A game
// that had gone wrong and were told "not permitted" would carry on doing
// whatever it had gone wrong with; the signal stops it at the call, where
// the crash handler gives the terminal back and the process dies by it, as
// a crash is reported.
#include "platform/terminal/confine.h"

#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

// valgrind runs the game's system calls itself and makes many of its own,
// so under it the game is left unconfined; its header says whether it runs.
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

// A sanitizer's runtime reports a fault by reading the program's symbols
// and maps, and checks for leaks at the end by stopping the process from a
// thread of its own: under one the game is left unconfined. Its runtime
// defines this function, and nothing else does.
extern "C" [[gnu::weak]] void __sanitizer_print_stack_trace();

namespace {

// Allowed whatever their arguments.
const int anyArguments[] = {
    // The frame's pause is a wait on the terminal (pselect6 where the
    // system has no select), or a sleep where it cannot be waited on; the
    // clock where the vDSO does not answer.
    SCMP_SYS(select),
    SCMP_SYS(pselect6),
    SCMP_SYS(nanosleep),
    SCMP_SYS(clock_nanosleep),
    SCMP_SYS(clock_gettime),
    // Catching the signals again after fg, putting back a default action
    // to die by, the C library's masks around raise and abort, and the
    // return from a handler.
    SCMP_SYS(rt_sigaction),
    SCMP_SYS(rt_sigprocmask),
    SCMP_SYS(rt_sigreturn),
    // A sleep stopped by SIGSTOP (which no handler sees) and continued is
    // resumed by the system through this call, not the sleep's own: without
    // it a debugger's or a job control's stop would end the game.
    SCMP_SYS(restart_syscall),
    // raise() names this process and thread.
    SCMP_SYS(getpid),
    SCMP_SYS(gettid),
    SCMP_SYS(exit_group),
    SCMP_SYS(exit),
};

// Allowed only with one argument equal to one of some values.
struct Narrowed {
    int call;
    unsigned argument;
    scmp_datum_t value;
};
const Narrowed narrowed[] = {
    // Keys come from standard input; the screen goes to standard output.
    {SCMP_SYS(read), 0, STDIN_FILENO},
    {SCMP_SYS(write), 0, STDOUT_FILENO},
    {SCMP_SYS(write), 0, STDERR_FILENO},
    // The terminal's modes read and set (tcgetattr, tcsetattr with
    // TCSANOW) and its size read: nothing that puts input into it.
    {SCMP_SYS(ioctl), 1, TCGETS},
    {SCMP_SYS(ioctl), 1, TCSETS},
    {SCMP_SYS(ioctl), 1, TIOCGWINSZ},
};

scmp_arg_cmp equal(unsigned argument, scmp_datum_t value)
{
    return scmp_arg_cmp{argument, SCMP_CMP_EQ, value, 0};
}

bool addRules(scmp_filter_ctx filter)
{
    bool added = true;
    for (const int call : anyArguments)
        added = added && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
    for (const Narrowed& n : narrowed)
        added = added && seccomp_rule_add(filter, SCMP_ACT_ALLOW, n.call, 1,
                                          equal(n.argument, n.value)) == 0;
    // Signals only to itself: raise() is tgkill to this process's one
    // thread, whose id is the process's.
    const auto self = static_cast<scmp_datum_t>(getpid());
    added =
        added && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(kill), 1, equal(0, self)) == 0;
    added = added && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 2, equal(0, self),
                                      equal(1, self)) == 0;
    return added;
}

// The filter's description, kept for the life of the process once it is
// loaded: freeing it then could hand memory back to the system, a call the
// filter does not allow.
scmp_filter_ctx loaded = nullptr;

} // namespace

bool confineInstallFilter()
{
    // Loading it sets no_new_privs too, as the system asks of a process
    // without privileges.
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_TRAP);
    if (filter == nullptr)
        return false;
    // A call by another architecture's numbers (the 32-bit entry on x86-64)
    // is a fault like any other.
    const bool made =
        seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_TRAP) == 0 && addRules(filter);
    if (!made || seccomp_load(filter) != 0) {
        seccomp_release(filter);
        return false;
    }
    loaded = filter;
    return true;
}

bool confineToTerminal()
{
    // No program it could start would gain privileges, and no other
    // process of the same user (another player's game in an arcade where
    // every player is one account) can trace it or read its memory or its
    // environment: that holds under the tools and where the filter is
    // refused too. It leaves no core file behind either.
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    if (RUNNING_ON_VALGRIND || __sanitizer_print_stack_trace != nullptr)
        return false;
    return confineInstallFilter();
}

// The signals: flags for the frame to act on, and the crash reset. See
// signals.h.
#include "platform/terminal/signals.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <initializer_list>

namespace {

// Set by the signal handlers (and by keys that stand for signals), acted on
// at the frame's contact with the outside: only a flag is safe in a handler.
struct Requests {
    volatile sig_atomic_t ending;  // SIGINT, SIGTERM, SIGQUIT or SIGHUP; 0 for none
    volatile sig_atomic_t suspend; // Ctrl-Z
    volatile sig_atomic_t resized; // the window changed size
};
Requests asked;

// What a crash handler sends and sets, and whether it is to.
struct CrashReset {
    char bytes[256];             // the terminal's strings that undo ours
    std::size_t length;          // of them
    termios modes;               // the modes as found
    volatile sig_atomic_t armed; // the terminal is ours: the handler gives it back
};
CrashReset crash;

// The signals whose default action ends the process and that we can catch,
// beside the real-time ones. Those that mean the program itself went wrong
// are the crash signals: handled on the spot, the others at the frame.
const int endingSignals[] = {
    SIGHUP,    SIGINT,    SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2,
    SIGALRM,   SIGVTALRM, SIGPROF, SIGPIPE, SIGXCPU, SIGXFSZ,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGEMT
    SIGEMT,
#endif
};
const int crashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

void onSignal(int sig)
{
    switch (sig) {
    case SIGTSTP: asked.suspend = 1; break;
    case SIGWINCH: asked.resized = 1; break;
    default: asked.ending = sig; break;
    }
}

// The program itself went wrong: nothing of it can be trusted, so the
// terminal is given back with async-signal-safe calls only (one write of the
// prepared reset, the modes as found), and the signal is raised again with
// its default action, so that the crash is reported as a crash.
void onCrash(int sig)
{
    if (crash.armed != 0) {
        const int saved = errno;
        [[maybe_unused]] const ssize_t sent = write(STDOUT_FILENO, crash.bytes, crash.length);
        tcsetattr(STDIN_FILENO, TCSANOW, &crash.modes);
        errno = saved;
    }
    raise(sig); // the handler was reset on entry (SA_RESETHAND): this ends us
}

// A signal that whoever started us set to be ignored (a shell's background
// job, a wrapper that shields its child) stays ignored.
void catchUnlessIgnored(int sig, const struct sigaction& action)
{
    struct sigaction now {};
    if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler != SIG_IGN)
        sigaction(sig, &action, nullptr);
}

// A request is taken once: reading it clears it.
bool take(volatile sig_atomic_t& request)
{
    const bool made = request != 0;
    request = 0;
    return made;
}

} // namespace

void signalsCatch()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a wait for input returns to look at the flags
    for (int sig : endingSignals)
        catchUnlessIgnored(sig, action);
    for (int sig : {SIGTSTP, SIGWINCH})
        catchUnlessIgnored(sig, action);
#ifdef SIGRTMIN
    // Some of the lowest are the C library's own: sigaction refuses those.
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        catchUnlessIgnored(sig, action);
#endif
    struct sigaction onCrashSignal {};
    onCrashSignal.sa_handler = onCrash;
    sigemptyset(&onCrashSignal.sa_mask);
    onCrashSignal.sa_flags = SA_RESETHAND | SA_NODEFER;
    // Even where whoever started us ignored them: a fault's signal, and the
    // SIGSYS of a call the confinement refuses, are forced on the process
    // all the same, and would end it with the terminal still ours.
    for (int sig : crashSignals)
        sigaction(sig, &onCrashSignal, nullptr);
}

void signalsRequestEnd(int sig) { asked.ending = sig; }
void signalsRequestSuspend() { asked.suspend = 1; }
int signalsEndingSignal() { return asked.ending; }
bool signalsTakeSuspend() { return take(asked.suspend); }
bool signalsTakeResize() { return take(asked.resized); }

void signalsEndBy(int sig)
{
    signal(sig, SIG_DFL);
    raise(sig);
    _exit(128 + sig);
}

void signalsStop()
{
    signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP); // stops here until the shell continues us
    signalsCatch();
}

void signalsStartCrashReset()
{
    crash.armed = 0;
    crash.length = 0;
}

int signalsAddToCrashReset(int c)
{
    if (crash.length < sizeof crash.bytes)
        crash.bytes[crash.length++] = static_cast<char>(c);
    return c;
}

void signalsArmCrashReset(const termios& asFound)
{
    crash.modes = asFound;
    // A handler that finds the reset armed finds it whole.
    std::atomic_signal_fence(std::memory_order_release);
    crash.armed = 1;
}

void signalsDisarmCrashReset() { crash.armed = 0; }

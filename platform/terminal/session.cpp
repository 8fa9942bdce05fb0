// The session room: everything about the terminal as a device and a
// process's controlling terminal. The only room that knows terminfo and
// termios; the screen reaches the terminal through the routines it supplies.
#include "platform/terminal/session.h"

#include <curses.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

struct Session {
    volatile sig_atomic_t inUse; // the terminal is ours: modes set, alternate screen on
    termios asFound;             // the modes to give back
    termios asSet;               // the modes we play in
    int height, width;           // the terminal's size, rows by columns
    const char* moveTo;          // cup: cursor addressing, which the game cannot do without
    const char* enterAlt;        // smcup: the alternate screen on
    const char* leaveAlt;        // rmcup: and off
    const char* enableAlt;       // enacs: makes the line-drawing set reachable
    // The bytes that give the screen back (attributes and line drawing off,
    // the cursor shown, the alternate screen left), put together at start so
    // that a crash can send them with one write and nothing else.
    char reset[256];
    std::size_t resetLength;
};
Session t;

// Set by the signal handlers (and by keys that stand for signals), acted on
// at the frame's contact with the outside: only a flag is safe in a handler.
struct Requests {
    volatile sig_atomic_t ending;  // SIGINT, SIGTERM, SIGQUIT or SIGHUP; 0 for none
    volatile sig_atomic_t suspend; // Ctrl-Z
    volatile sig_atomic_t resized; // the window changed size
};
Requests asked;

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

void refuse(const char* message) { std::fprintf(stderr, "blockfall: %s\n", message); }

const char* capability(const char* name)
{
    const char* s = tigetstr(const_cast<char*>(name));
    return (s == nullptr || s == reinterpret_cast<char*>(-1)) ? nullptr : s;
}

// Every string the backend uses, by its terminfo name, in one table.
void readCapabilities(ScreenStrings& forScreen)
{
    const struct {
        const char* name;
        const char** field;
    } table[] = {
        {"smcup", &t.enterAlt},           {"rmcup", &t.leaveAlt},
        {"clear", &forScreen.clearAll},   {"civis", &forScreen.hideCursor},
        {"cnorm", &forScreen.showCursor}, {"rev", &forScreen.reverse},
        {"sgr0", &forScreen.plain},       {"smacs", &forScreen.altOn},
        {"rmacs", &forScreen.altOff},     {"enacs", &t.enableAlt},
    };
    for (const auto& entry : table)
        *entry.field = capability(entry.name);
    // The checkerboard's character in the line-drawing set.
    const char* pairs = capability("acsc");
    for (; pairs != nullptr && pairs[0] != '\0' && pairs[1] != '\0'; pairs += 2)
        if (pairs[0] == 'a') {
            forScreen.checkerboard = pairs[1];
            break;
        }
    forScreen.utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    // Late wrap (xenl) or none at all: the bottom-right cell can be written
    // without the screen scrolling, as curses does.
    forScreen.lastCellSafe =
        tigetflag(const_cast<char*>("xenl")) > 0 || tigetflag(const_cast<char*>("am")) <= 0;
}

// terminfo's output routine ends in the frame, or, while the reset is put
// together, in that.
int toFrame(int c)
{
    screenWriteByte(static_cast<char>(c));
    return c;
}

int toReset(int c)
{
    if (t.resetLength < sizeof t.reset)
        t.reset[t.resetLength++] = static_cast<char>(c);
    return c;
}

void prepareReset(const ScreenStrings& strings)
{
    t.resetLength = 0;
    for (const char* s : {strings.plain, strings.altOff, strings.showCursor, t.leaveAlt})
        if (s != nullptr)
            tputs(s, 1, toReset);
}

void readSize()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        t.height = size.ws_row;
        t.width = size.ws_col;
    } else {
        t.height = tigetnum(const_cast<char*>("lines"));
        t.width = tigetnum(const_cast<char*>("cols"));
    }
}

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
    if (t.inUse != 0) {
        const int saved = errno;
        [[maybe_unused]] const ssize_t sent = write(STDOUT_FILENO, t.reset, t.resetLength);
        tcsetattr(STDIN_FILENO, TCSANOW, &t.asFound);
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

// ---- The screen's routines ---------------------------------------------

// Through terminfo's own output routine: a delay in the string becomes
// padding or nothing, never text.
void putCapability(const char* s)
{
    if (s != nullptr)
        tputs(s, 1, toFrame);
}

void putCursorMove(int row, int column)
{
    putCapability(tparm(const_cast<char*>(t.moveTo), row, column, 0, 0, 0, 0, 0, 0, 0));
}

void sendFrame(const char* bytes, std::size_t length)
{
    for (std::size_t done = 0; done < length;) {
        const ssize_t n = write(STDOUT_FILENO, bytes + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the terminal is gone; the next wait on it ends the game
        done += static_cast<std::size_t>(n);
    }
}

// ---- Opening, entering, leaving ----------------------------------------

bool sessionOpen(ScreenStrings& forScreen, int minColumns, int minRows)
{
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        refuse("needs a terminal: standard input and output must both be a terminal");
        return false;
    }
    std::setlocale(LC_ALL, "");
    const char* term = std::getenv("TERM");
    if (term == nullptr || *term == '\0') {
        refuse("TERM is not set, so the terminal cannot be driven");
        return false;
    }
    char message[160];
    int status = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &status) != OK) {
        std::snprintf(message, sizeof message, "the terminal type '%.64s' is not known here", term);
        refuse(message);
        return false;
    }
    t.moveTo = capability("cup");
    if (t.moveTo == nullptr) {
        refuse("this terminal cannot place the cursor (no cup in its description)");
        return false;
    }
    readSize();
    if (t.width < minColumns || t.height < minRows) {
        std::snprintf(message, sizeof message,
                      "the terminal is %dx%d; the game needs at least %d columns by %d rows",
                      t.width, t.height, minColumns, minRows);
        refuse(message);
        return false;
    }
    readCapabilities(forScreen);
    prepareReset(forScreen);
    return true;
}

void sessionEnter()
{
    tcgetattr(STDIN_FILENO, &t.asFound);
    t.asSet = t.asFound;
    // The terminal still turns Ctrl-C and Ctrl-Z into signals.
    t.asSet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    t.asSet.c_cc[VMIN] = 0;
    t.asSet.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &t.asSet);
    putCapability(t.enterAlt);
    // On each taking over: the shell may have reset the character sets while
    // we were suspended.
    putCapability(t.enableAlt);
    t.inUse = 1;
    readSize();
}

void sessionLeave()
{
    // Without an alternate screen the game's screen stays: what the shell
    // writes next starts on a line of its own, not after the prompt.
    if (t.leaveAlt == nullptr)
        screenWrite("\r\n");
    putCapability(t.leaveAlt);
    screenFlush();
    tcsetattr(STDIN_FILENO, TCSANOW, &t.asFound);
    t.inUse = 0;
}

bool sessionInUse() { return t.inUse != 0; }

LineKeys sessionLineKeys()
{
    return {t.asFound.c_cc[VERASE], t.asFound.c_cc[VKILL], t.asFound.c_cc[VEOF]};
}
int sessionRows() { return t.height; }
int sessionColumns() { return t.width; }

// ---- Signals -----------------------------------------------------------

void sessionCatchSignals()
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
    struct sigaction crash {};
    crash.sa_handler = onCrash;
    sigemptyset(&crash.sa_mask);
    crash.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int sig : crashSignals)
        catchUnlessIgnored(sig, crash);
}

void sessionRequestEnd(int sig) { asked.ending = sig; }
void sessionRequestSuspend() { asked.suspend = 1; }
int sessionEndingSignal() { return asked.ending; }

bool sessionTakeSuspend() { return take(asked.suspend); }

bool sessionTakeResize()
{
    if (!take(asked.resized))
        return false;
    readSize();
    return true;
}

void sessionEndBy(int sig)
{
    signal(sig, SIG_DFL);
    raise(sig);
    _exit(128 + sig);
}

void sessionStop()
{
    signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP); // stops here until the shell continues us
    sessionCatchSignals();
}

bool sessionTerminalLost()
{
    // A terminal hung up answers every request with an error; one that
    // merely had nothing more to read still answers.
    termios modes;
    return tcgetattr(STDIN_FILENO, &modes) != 0 && errno != EINTR;
}

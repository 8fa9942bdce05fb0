// The session room: everything about the terminal as a device and a
// process's controlling terminal, driven by its description (the
// description room's); the screen reaches the terminal through the routines
// it supplies, and the signals give it back after a crash with the bytes it
// hands them.
#include "platform/terminal/session.h"

#include <curses.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "platform/terminal/description.h"
#include "platform/terminal/signals.h"

namespace {

struct Session {
    bool inUse;              // the terminal is ours: modes set, alternate screen on
    termios asFound;         // the modes to give back
    termios asSet;           // the modes we play in
    Description description; // the terminal's, read once at opening
};
Session session;

void refuse(const char* message) { std::fprintf(stderr, "blockfall: %s\n", message); }

// Up to 64 bytes of a name from outside (TERM), its control bytes made
// visible (^[ for ESC, ^? for DEL, \ooo for any byte past ASCII, a C1
// control included), so that echoing it cannot drive the terminal; into
// shown, which holds 4 * 64 + 1 bytes.
const char* visible(const char* name, char* shown)
{
    char* out = shown;
    for (int i = 0; i < 64 && name[i] != '\0'; ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte >= 0x80)
            out += std::sprintf(out, "\\%03o", byte);
        else if (byte < 0x20 || byte == 0x7F)
            out += std::sprintf(out, "^%c", byte ^ 0x40);
        else if (byte == '\\')
            out += std::sprintf(out, "\\\\");
        else
            *out++ = static_cast<char>(byte);
    }
    *out = '\0';
    return shown;
}

ScreenStrings screenStrings()
{
    const Description& d = session.description;
    ScreenStrings strings;
    strings.clearAll = d.clearAll;
    strings.hideCursor = d.hideCursor;
    strings.showCursor = d.showCursor;
    strings.reverse = d.reverse;
    strings.plain = d.plain;
    strings.altOn = d.altOn;
    strings.altOff = d.altOff;
    // The checkerboard's character in the line-drawing set.
    for (const char* p = d.altPairs; p != nullptr && p[0] != '\0' && p[1] != '\0'; p += 2)
        if (p[0] == 'a') {
            strings.checkerboard = p[1];
            break;
        }
    strings.utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    // Late wrap or none at all: the bottom-right cell can be written without
    // the screen scrolling, as curses does.
    strings.lastCellSafe = d.lateWrap || !d.autoWrap;
    return strings;
}

// terminfo's output routine ends in the frame, or, while the crash reset is
// put together, in the signals' (signalsAddToCrashReset).
int toFrame(int c)
{
    screenWriteByte(static_cast<char>(c));
    return c;
}

enum SizeReport { sizeKnown, sizeNotYet, sizeNone };

// What the system says of the terminal's size. A terminal emulator may
// start the game before it has set the size of its pty, which then reads
// 0x0 for a moment: that is a size not known yet, not a size.
SizeReport readSize(winsize& size)
{
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return sizeNone;
    return size.ws_row > 0 && size.ws_col > 0 ? sizeKnown : sizeNotYet;
}

// Gives a terminal that has no size yet half a second to set it, looking
// again every 10 ms, so that one too small is refused rather than taken
// for the size its description gives. Still none: the description's it is.
void waitForReportedSize()
{
    winsize size{};
    for (int look = 0; look < 50 && readSize(size) == sizeNotYet; ++look) {
        timespec tenMs{0, 10'000'000L};
        nanosleep(&tenMs, nullptr);
    }
}

void prepareCrashReset()
{
    const Description& d = session.description;
    signalsStartCrashReset();
    for (const char* s : {d.plain, d.altOff, d.showCursor, d.leaveAlt})
        if (s != nullptr)
            tputs(s, 1, signalsAddToCrashReset);
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

// tparm is variadic and reads every parameter as a long: an int would leave
// half of its slot undefined where each variadic argument has 8 bytes of its
// own (Apple's arm64), and the cursor would go wherever that half says.
void putCursorMove(int row, int column)
{
    putCapability(
        tparm(session.description.moveTo, long{row}, long{column}, 0L, 0L, 0L, 0L, 0L, 0L, 0L));
}

// Whether the terminal takes output again within the limit.
bool writableWithin(long limitNs)
{
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(STDOUT_FILENO, &fds);
    timeval limit{};
    limit.tv_usec = static_cast<decltype(limit.tv_usec)>(limitNs / 1000);
    return select(STDOUT_FILENO + 1, nullptr, &fds, nullptr, &limit) > 0;
}

// A terminal whose reader has stopped (a client that no longer reads, its
// output held) blocks the write until a signal cuts it short. An ending
// signal is then acted on as at any other moment: what the terminal does
// not take within a moment is dropped, this frame's rest and the leaving's
// bytes alike, so that the game ends rather than wait for a reader who may
// never come back. Its modes are still given back: setting them does not
// wait on the output.
void sendFrame(const char* bytes, std::size_t length)
{
    constexpr long lastChanceNs = 100'000'000L;
    for (std::size_t done = 0; done < length;) {
        if (signalsEndingSignal() != 0 && !writableWithin(lastChanceNs))
            return;
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
    char message[400];
    if (!descriptionOpen(term)) {
        char shown[4 * 64 + 1];
        std::snprintf(message, sizeof message, "the terminal type '%s' is not known here",
                      visible(term, shown));
        refuse(message);
        return false;
    }
    session.description = descriptionRead();
    if (session.description.moveTo == nullptr) {
        refuse("this terminal cannot place the cursor (no cup in its description)");
        return false;
    }
    waitForReportedSize();
    sessionReadSize();
    if (screenColumns() < minColumns || screenRows() < minRows) {
        std::snprintf(message, sizeof message,
                      "the terminal is %dx%d; the game needs at least %d columns by %d rows",
                      screenColumns(), screenRows(), minColumns, minRows);
        refuse(message);
        return false;
    }
    forScreen = screenStrings();
    prepareCrashReset();
    return true;
}

void sessionEnter()
{
    tcgetattr(STDIN_FILENO, &session.asFound);
    session.asSet = session.asFound;
    // The terminal still turns Ctrl-C and Ctrl-Z into signals, but Ctrl-S
    // and Ctrl-Q are keys: with flow control on, one Ctrl-S would hold the
    // game's output, and the game with it, until a Ctrl-Q.
    session.asSet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    session.asSet.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
    session.asSet.c_cc[VMIN] = 0;
    session.asSet.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &session.asSet);
    putCapability(session.description.enterAlt);
    // On each taking over: the shell may have reset the character sets while
    // we were suspended.
    putCapability(session.description.enableAlt);
    signalsArmCrashReset(session.asFound);
    session.inUse = true;
    sessionReadSize();
}

void sessionLeave()
{
    // Without an alternate screen the game's screen stays: what the shell
    // writes next starts on a line of its own, not after the prompt.
    if (session.description.leaveAlt == nullptr)
        screenWrite("\r\n");
    putCapability(session.description.leaveAlt);
    screenFlush();
    tcsetattr(STDIN_FILENO, TCSANOW, &session.asFound);
    signalsDisarmCrashReset();
    session.inUse = false;
}

bool sessionInUse() { return session.inUse; }

LineKeys sessionLineKeys()
{
    return {session.asFound.c_cc[VERASE], session.asFound.c_cc[VKILL], session.asFound.c_cc[VEOF]};
}

bool sessionReadSize()
{
    winsize size{};
    const bool known = readSize(size) == sizeKnown;
    // Not "columns": term.h has a macro of that name.
    const int height = known ? size.ws_row : session.description.describedRows;
    const int width = known ? size.ws_col : session.description.describedColumns;
    const bool changed = height != screenRows() || width != screenColumns();
    screenResize(height, width);
    return changed;
}

bool sessionTerminalLost()
{
    // A terminal hung up answers every request with an error; one that
    // merely had nothing more to read still answers.
    termios modes;
    return tcgetattr(STDIN_FILENO, &modes) != 0 && errno != EINTR;
}

// The terminal backend for Linux and macOS: terminfo (from ncurses) for
// the terminal's own sequences, our own screen update, and keys read from
// the tty by us.
//
// A terminal cannot be asked what it shows, so every code written is kept in
// a shadow of the screen and read back from there: the read-back then
// returns exactly the code that was written, 0 included. Beside it we keep
// what the terminal shows now; once a frame the cells that differ go out in
// a single write, each run of them behind one cursor move. (curses' own
// update flushes after every cursor move, several writes a frame.) A resize
// or a return from suspension repaints the screen whole from the shadow.
//
// Keys are read as bytes, once a frame, and decoded by keys.cpp: a curses
// reader takes an ESC followed by anything it does not know for the Escape
// key, and would end the game on a stray sequence. Where the terminal offers
// the progressive keyboard protocol we turn it on and keep true key-down
// state; elsewhere each key is a latch set by its presses and auto-repeats.
#include <curses.h>
#include <langinfo.h>
#include <poll.h>
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
#include <ctime>
#include <initializer_list>

#include "platform/cells.h"
#include "platform/keys.h"
#include "platform/platform.h"

namespace {

// ---- State -------------------------------------------------------------

// The game's screen: the well and panel in 26 columns, the status lines and
// the exit prompt down to row 20.
constexpr int needColumns = 26;
constexpr int needRows = 21;

// Large enough for any position the game can ask for; what lies beyond the
// terminal's edge is kept here and shown once the terminal is large enough.
constexpr int shadowWidth = 256;
constexpr int shadowHeight = 128;
constexpr int unknown = -1; // a cell whose content on the terminal we cannot vouch for

unsigned char shadow[shadowHeight][shadowWidth]; // codes written, as the game sees them
short shown[shadowHeight][shadowWidth];          // codes on the terminal now, or unknown
bool dirty[shadowHeight];                        // rows where the two may differ
int cx = 0, cy = 0;                              // the game's cursor

int screenRows = 0, screenColumns = 0; // the terminal's size
int atY = -1, atX = -1;                // the terminal's cursor, -1 when we do not know it
bool cursorShown = false;              // the player sees the cursor only at the prompt

bool inUse = false; // the terminal is ours: modes set, alternate screen on
bool utf8 = false;  // glyphs as Unicode, or the terminal's own fallbacks
termios asFound{};  // the modes to give back

// The terminal's sequences, from terminfo; those we can do without may be null.
const char* moveTo;      // cup
const char* clearAll;    // clear
const char* hideCursor;  // civis
const char* showCursor;  // cnorm
const char* enterScreen; // smcup
const char* leaveScreen; // rmcup
const char* reverse;     // rev
const char* plain;       // sgr0
const char* altOn;       // smacs
const char* altOff;      // rmacs
char checkerboard = '#'; // acsc's glyph for the checkerboard, when there is one

char out[1 << 16]; // one frame's output, written at once
size_t outLength = 0;

// Per key: pressed since its last poll, and (with the protocol) down now.
struct KeyState {
    bool latched;
    bool down;
};
KeyState keyLeftState, keyUpState, keyRightState, keyDownState, keyEscapeState;
bool enterSeen;        // an Enter typed during play, kept for the exit prompt
bool protocolOffered;  // the terminal answered the protocol query
bool queryOutstanding; // its answer to the attributes request is still to come
bool enhanced;         // presses, repeats and releases are being reported
bool atPrompt;         // past play: the protocol stays off
KeyDecoder decoder;    // a sequence may be cut across reads
time_t lastHangupCheck;

// Set by the signal handlers, acted on in the loop: only a flag is safe there.
volatile sig_atomic_t endingSignal = 0; // SIGINT, SIGTERM, SIGQUIT or SIGHUP
volatile sig_atomic_t suspendAsked = 0;
volatile sig_atomic_t resized = 0;

void refuse(const char* message) { std::fprintf(stderr, "blockfall: %s\n", message); }

// ---- Output ------------------------------------------------------------

void flushOut()
{
    size_t done = 0;
    while (done < outLength) {
        const ssize_t n = write(STDOUT_FILENO, out + done, outLength - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // the terminal is gone; the hangup check will end the game
    }
    outLength = 0;
}

void emit(const char* s)
{
    if (s == nullptr)
        return;
    const size_t n = std::strlen(s);
    if (outLength + n > sizeof out)
        flushOut();
    if (n <= sizeof out) {
        std::memcpy(out + outLength, s, n);
        outLength += n;
    }
}

void emitMove(int y, int x)
{
    if (y == atY && x == atX)
        return;
    emit(tparm(const_cast<char*>(moveTo), y, x, 0, 0, 0, 0, 0, 0, 0));
    atY = y;
    atX = x;
}

// One cell's glyph: the shade and the full block in Unicode, or the
// terminal's checkerboard and a reverse-video space; code 0 shows blank.
void emitGlyph(unsigned char code)
{
    char one[2] = {' ', '\0'};
    if (code == 178) {
        if (utf8) {
            emit("\xe2\x96\x93");
        } else if (altOn != nullptr && checkerboard != '#') {
            emit(altOn);
            one[0] = checkerboard;
            emit(one);
            emit(altOff);
        } else {
            emit("#");
        }
        return;
    }
    if (code == 219) {
        if (utf8) {
            emit("\xe2\x96\x88");
        } else if (reverse != nullptr) {
            emit(reverse);
            emit(" ");
            emit(plain);
        } else {
            emit("#");
        }
        return;
    }
    if (code >= 32 && code < 127)
        one[0] = static_cast<char>(code);
    else if (code != 0)
        one[0] = '?';
    emit(one);
}

// Sends every cell that differs from what the terminal shows. The very last
// cell of the screen is left alone: writing it scrolls some terminals.
void update()
{
    for (int y = 0; y < screenRows && y < shadowHeight; ++y) {
        if (!dirty[y])
            continue;
        dirty[y] = false;
        for (int x = 0; x < screenColumns && x < shadowWidth; ++x) {
            if (shown[y][x] == shadow[y][x] || (y == screenRows - 1 && x == screenColumns - 1))
                continue;
            emitMove(y, x);
            emitGlyph(shadow[y][x]);
            shown[y][x] = shadow[y][x];
            // At the right edge the cursor's place is up to the terminal.
            atX = x + 1 < screenColumns ? x + 1 : -1;
        }
    }
}

// Forgets what the terminal shows and redraws it whole from the shadow.
void repaint()
{
    emit(clearAll);
    atY = atX = -1;
    for (int y = 0; y < shadowHeight; ++y) {
        for (int x = 0; x < shadowWidth; ++x)
            shown[y][x] = clearAll != nullptr ? ' ' : unknown;
        dirty[y] = true;
    }
    update();
}

void nextLine()
{
    cx = 0;
    if (cy < shadowHeight - 1)
        ++cy;
}

// ---- Terminal modes ----------------------------------------------------

void readSize()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        screenRows = size.ws_row;
        screenColumns = size.ws_col;
    } else {
        screenRows = tigetnum(const_cast<char*>("lines"));
        screenColumns = tigetnum(const_cast<char*>("cols"));
    }
}

// Keys one by one, unechoed, and reads that return at once with whatever is
// there. The terminal still turns Ctrl-C and Ctrl-Z into signals.
void enterTerminal()
{
    tcgetattr(STDIN_FILENO, &asFound);
    termios modes = asFound;
    modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    modes.c_cc[VMIN] = 0;
    modes.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &modes);
    emit(enterScreen);
    if (!cursorShown)
        emit(hideCursor);
    inUse = true;
    readSize();
    repaint();
    flushOut();
}

void leaveTerminalModes()
{
    emit(showCursor);
    emit(leaveScreen);
    flushOut();
    tcsetattr(STDIN_FILENO, TCSANOW, &asFound);
    inUse = false;
}

// ---- Keyboard protocol -------------------------------------------------

// Flags: disambiguate escape codes (1) and report event types (2).
void pushProtocol()
{
    if (enhanced)
        emit("\033[>3u");
}

void popProtocol()
{
    if (enhanced)
        emit("\033[<u");
}

KeyState* stateOf(int key)
{
    switch (key) {
    case keyLeft: return &keyLeftState;
    case keyUp: return &keyUpState;
    case keyRight: return &keyRightState;
    case keyDown: return &keyDownState;
    case keyEscape: return &keyEscapeState;
    default: return nullptr;
    }
}

void apply(const KeyEvent& e)
{
    if (KeyState* k = stateOf(e.key)) {
        if (e.action == keyRelease) {
            k->down = false;
        } else {
            k->latched = true;
            k->down = enhanced;
        }
        return;
    }
    switch (e.key) {
    case keyEnter:
        if (e.action == keyPress)
            enterSeen = true;
        break;
    // In the protocol these chords arrive as keys, not as signals.
    case keyInterrupt: endingSignal = SIGINT; break;
    case keyQuit: endingSignal = SIGQUIT; break;
    case keySuspend: suspendAsked = 1; break;
    case replyProtocolFlags: protocolOffered = true; break;
    case replyDeviceAttributes:
        // Every terminal answers this request, and after the protocol query:
        // by now we know whether the protocol is there.
        queryOutstanding = false;
        if (protocolOffered && !atPrompt && !enhanced) {
            enhanced = true;
            pushProtocol();
        }
        break;
    default: break;
    }
}

// Reads what is waiting, without blocking, and decodes it. Returns the
// bytes read: 0 when nothing was there.
ssize_t readKeys()
{
    unsigned char bytes[256];
    const ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i) {
        KeyEvent e;
        if (feedKey(decoder, bytes[i], &e))
            apply(e);
    }
    return n;
}

// Asks whether the terminal offers the protocol, followed by the device
// attributes request that every terminal answers. The answers are read with
// the keys, so a terminal that answers late or never costs no wait.
void askForProtocol()
{
    emit("\033[?u\033[c");
    queryOutstanding = true;
}

// On the way out, an answer still on its way would land in the shell's
// input: wait a moment for it.
void collectLateAnswer()
{
    for (int waited = 0; queryOutstanding && waited < 100; waited += 10) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (poll(&in, 1, 10) > 0 && readKeys() <= 0)
            break;
    }
}

// ---- Signals -----------------------------------------------------------

void onSignal(int sig)
{
    switch (sig) {
    case SIGTSTP: suspendAsked = 1; break;
    case SIGWINCH: resized = 1; break;
    default: endingSignal = sig; break;
    }
}

void catchSignals()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a wait for input returns to look at the flags
    for (int sig : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGTSTP, SIGWINCH})
        sigaction(sig, &action, nullptr);
}

void leaveTerminal()
{
    if (!inUse)
        return;
    collectLateAnswer();
    popProtocol();
    leaveTerminalModes();
}

void suspend()
{
    suspendAsked = 0;
    if (inUse) {
        popProtocol();
        leaveTerminalModes();
    }
    signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP); // stops here until the shell continues us
    catchSignals();
    enterTerminal();
    pushProtocol();
    flushOut();
}

// Acts on what the signal handlers noted. The ending signals give the
// terminal back and end the process as that signal would.
void handleSignals()
{
    if (const int sig = endingSignal; sig != 0) {
        leaveTerminal();
        signal(sig, SIG_DFL);
        raise(sig);
        _exit(128 + sig);
    }
    if (suspendAsked)
        suspend();
    if (resized) {
        resized = 0;
        readSize();
        repaint();
        flushOut();
    }
}

// A terminal that went away without a hangup signal reaching us (it was
// ignored, say) shows as a hung-up input; look once a second.
void checkHangup()
{
    const time_t now = std::time(nullptr);
    if (now == lastHangupCheck)
        return;
    lastHangupCheck = now;
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 0) > 0 && (in.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        endingSignal = SIGHUP;
}

// Once a frame: take in the keys, and let a pause finish a lone ESC.
void drainInput()
{
    if (readKeys() <= 0) {
        KeyEvent e;
        if (pauseKeys(decoder, &e))
            apply(e);
    }
    checkHangup();
    handleSignals();
}

// ---- Start-up ----------------------------------------------------------

void refuseSize(int width, int height)
{
    char message[160];
    std::snprintf(message, sizeof message,
                  "the terminal is %dx%d; the game needs at least %d columns by %d rows", width,
                  height, needColumns, needRows);
    refuse(message);
}

const char* capability(const char* name)
{
    const char* s = tigetstr(const_cast<char*>(name));
    return (s == nullptr || s == reinterpret_cast<char*>(-1)) ? nullptr : s;
}

// The checkerboard's character in the terminal's alternate character set.
char findCheckerboard()
{
    const char* pairs = capability("acsc");
    for (; pairs != nullptr && pairs[0] != '\0' && pairs[1] != '\0'; pairs += 2)
        if (pairs[0] == 'a')
            return pairs[1];
    return '#';
}

} // namespace

// ---- The seam ----------------------------------------------------------

int platformOpen()
{
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        refuse("needs a terminal: standard input and output must both be a terminal");
        return 0;
    }
    std::setlocale(LC_ALL, "");
    const char* term = std::getenv("TERM");
    if (term == nullptr || *term == '\0') {
        refuse("TERM is not set, so the terminal cannot be driven");
        return 0;
    }
    int status = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &status) != OK) {
        char message[160];
        std::snprintf(message, sizeof message, "the terminal type '%.64s' is not known here", term);
        refuse(message);
        return 0;
    }
    moveTo = capability("cup");
    if (moveTo == nullptr) {
        refuse("this terminal cannot place the cursor (no cup in its description)");
        return 0;
    }
    readSize();
    if (screenColumns < needColumns || screenRows < needRows) {
        refuseSize(screenColumns, screenRows);
        return 0;
    }
    clearAll = capability("clear");
    hideCursor = capability("civis");
    showCursor = capability("cnorm");
    enterScreen = capability("smcup");
    leaveScreen = capability("rmcup");
    reverse = capability("rev");
    plain = capability("sgr0");
    altOn = capability("smacs");
    altOff = capability("rmacs");
    checkerboard = findCheckerboard();
    utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;

    // The screen and its shadow start out blank together.
    std::memset(shadow, ' ', sizeof shadow);
    cx = cy = 0;
    cursorShown = false;
    keyLeftState = keyUpState = keyRightState = keyDownState = keyEscapeState = KeyState{};
    enterSeen = protocolOffered = queryOutstanding = enhanced = atPrompt = false;
    resetKeys(decoder);
    lastHangupCheck = std::time(nullptr);
    catchSignals();
    enterTerminal();
    askForProtocol();
    flushOut();
    return 1;
}

void platformClose() { leaveTerminal(); }

void conSetCursor(short x, short y)
{
    if (x < 0 || y < 0 || x >= shadowWidth || y >= shadowHeight)
        return;
    cx = x;
    cy = y;
}

void conPutCode(int code)
{
    shadow[cy][cx] = static_cast<unsigned char>(code);
    dirty[cy] = true;
    if (++cx == shadowWidth)
        nextLine();
}

void conPutText(const char* text) { putTextAsCells(text, conPutCode, nextLine); }

int conScreenError() { return 0; }

int conReadCode(short x, short y, int* code)
{
    if (x < 0 || y < 0 || x >= shadowWidth || y >= shadowHeight)
        return 0;
    *code = shadow[y][x];
    return 1;
}

void conFlush()
{
    update();
    // The cursor is hidden in play: wherever the update left it will do.
    if (cursorShown && cy < screenRows && cx < screenColumns)
        emitMove(cy, cx);
    flushOut();
}

int keyPressed(int key)
{
    // Escape is polled last in every frame: one read there serves the whole
    // next frame, and what came during the pause is seen without delay.
    if (key == keyEscape)
        drainInput();
    KeyState* k = stateOf(key);
    if (k == nullptr)
        return 0;
    const bool pressed = k->latched || k->down;
    k->latched = false;
    return pressed ? 1 : 0;
}

void waitForEnter()
{
    drainInput();
    if (enterSeen)
        return;
    // Plain keys at the prompt, as in any other program, and the cursor
    // after the prompt's text.
    atPrompt = true;
    popProtocol();
    enhanced = false;
    cursorShown = true;
    emit(showCursor);
    conFlush();
    for (;;) {
        handleSignals();
        if (enterSeen)
            return;
        // A lone Escape pressed at the prompt must not swallow the Enter
        // after it: with a sequence begun, a short silence ends it.
        pollfd in{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&in, 1, keysPending(decoder) ? 50 : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            KeyEvent e;
            if (pauseKeys(decoder, &e))
                apply(e);
            continue;
        }
        // The end of input or a lost terminal: nothing more will come, and
        // the prompt is answered as Enter would.
        if (ready < 0 || (in.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            return;
        if (readKeys() <= 0)
            return;
    }
}

void sleepMs(int ms)
{
    timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR && endingSignal == 0) {
    }
}

int wallClock() { return static_cast<int>(std::time(nullptr)); }

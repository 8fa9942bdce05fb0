// The terminal backend for Linux and macOS: output through ncursesw, input
// read from the tty by us.
//
// A terminal cannot be asked what it shows, so every code written is kept in
// a shadow of the screen and read back from there: the read-back then
// returns exactly the code that was written, 0 included, and a resize or a
// return from suspension repaints the whole screen from it.
//
// Keys are read as bytes, once a frame, and decoded by keys.cpp rather than
// by curses: curses takes an ESC followed by anything it does not know for
// the Escape key, and would end the game on a stray sequence. Where the
// terminal offers the progressive keyboard protocol we turn it on and keep
// true key-down state; elsewhere each key is a latch set by its presses and
// auto-repeats.
#define NCURSES_WIDECHAR 1
#define _XOPEN_SOURCE_EXTENDED 1

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

#include "platform/keys.h"
#include "platform/platform.h"

namespace {

// ---- State -------------------------------------------------------------

// The game's screen: the well and panel in 26 columns, the status lines and
// the exit prompt down to row 20.
constexpr int needColumns = 26;
constexpr int needRows = 21;

// Large enough for any position the game can ask for; writes beyond the
// terminal's edge are kept here and shown once the terminal is large enough.
constexpr int shadowWidth = 256;
constexpr int shadowHeight = 128;

SCREEN* terminal = nullptr; // our curses screen on the tty
bool utf8 = false;          // glyphs as Unicode, or the portable curses fallback

unsigned char shadow[shadowHeight][shadowWidth]; // codes written, as shown
int cx = 0, cy = 0;                              // the cursor, in console terms

// Per key: pressed since its last poll, and (with the protocol) down now.
struct KeyState {
    bool latched;
    bool down;
};
KeyState keyLeftState, keyUpState, keyRightState, keyDownState, keyEscapeState;
bool enterSeen;       // an Enter typed during play, kept for the exit prompt
bool enhanced;        // the terminal reports presses, repeats and releases
KeyDecoder decoder;   // a sequence may be cut across reads
time_t lastHangupCheck;

// Set by the signal handlers, acted on in the loop: only a flag is safe there.
volatile sig_atomic_t endingSignal = 0; // SIGINT, SIGTERM, SIGQUIT or SIGHUP
volatile sig_atomic_t suspendAsked = 0;
volatile sig_atomic_t resized = 0;

void refuse(const char* message) { std::fprintf(stderr, "blockfall: %s\n", message); }

// Writes straight to the tty, past curses' buffer, for the protocol's
// own sequences. Short writes to a terminal only happen when it is gone.
void sendRaw(const char* text)
{
    const ssize_t n = write(STDOUT_FILENO, text, std::strlen(text));
    (void)n;
}

// ---- Drawing -----------------------------------------------------------

void drawGlyph(int y, int x, unsigned char code)
{
    if (y >= LINES || x >= COLS)
        return;
    if (utf8) {
        wchar_t glyph[2] = {L' ', L'\0'};
        if (code == 178)
            glyph[0] = L'\u2593';
        else if (code == 219)
            glyph[0] = L'\u2588';
        else if (code >= 32 && code < 127)
            glyph[0] = code;
        else if (code != 0)
            glyph[0] = L'?';
        cchar_t cell;
        setcchar(&cell, glyph, A_NORMAL, 0, nullptr);
        mvadd_wch(y, x, &cell);
        return;
    }
    chtype ch = ' ';
    if (code == 178)
        ch = ACS_CKBOARD;
    else if (code == 219)
        ch = ' ' | A_REVERSE;
    else if (code >= 32 && code < 127)
        ch = code;
    else if (code != 0)
        ch = '?';
    mvaddch(y, x, ch);
}

// Paints everything that fits from the shadow, and makes the next refresh
// redraw the terminal whole.
void repaint()
{
    erase();
    for (int y = 0; y < shadowHeight && y < LINES; ++y)
        for (int x = 0; x < shadowWidth && x < COLS; ++x)
            drawGlyph(y, x, shadow[y][x]);
    clearok(curscr, TRUE);
    refresh();
}

void nextLine()
{
    cx = 0;
    if (cy < shadowHeight - 1)
        ++cy;
}

// ---- Keyboard protocol -------------------------------------------------

// Flags: disambiguate escape codes (1) and report event types (2).
void pushProtocol()
{
    if (enhanced)
        sendRaw("\033[>3u");
}

void popProtocol()
{
    if (enhanced)
        sendRaw("\033[<u");
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

// Applies one decoded event; returns whether it was the reply `awaited`.
bool apply(const KeyEvent& e, int awaited = 0)
{
    if (KeyState* k = stateOf(e.key)) {
        if (e.action == keyRelease) {
            k->down = false;
        } else {
            k->latched = true;
            k->down = enhanced;
        }
        return false;
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
    case replyProtocolFlags:
        if (awaited == replyDeviceAttributes)
            enhanced = true;
        break;
    default: break;
    }
    return e.key == awaited;
}

// Reads what is waiting, without blocking (the tty is set to return at once),
// and decodes it. Returns the bytes read: 0 when nothing was there.
ssize_t readKeys(int awaited = 0, bool* found = nullptr)
{
    unsigned char bytes[256];
    const ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i) {
        KeyEvent e;
        if (feedKey(decoder, bytes[i], &e) && apply(e, awaited) && found != nullptr)
            *found = true;
    }
    return n;
}

// Asks whether the terminal offers the protocol. Every terminal answers the
// device-attributes request that follows; one that answers only that has no
// support. One that answers nothing costs the wait and is taken as legacy.
void detectProtocol()
{
    sendRaw("\033[?u\033[c");
    bool answered = false;
    for (int waited = 0; waited < 250 && !answered; waited += 10) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (poll(&in, 1, 10) > 0)
            readKeys(replyDeviceAttributes, &answered);
    }
    pushProtocol();
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
    if (terminal == nullptr)
        return;
    popProtocol();
    curs_set(1);
    endwin();
    delscreen(terminal);
    terminal = nullptr;
}

void suspend()
{
    suspendAsked = 0;
    popProtocol();
    endwin();
    signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP); // stops here until the shell continues us
    catchSignals();
    pushProtocol();
    resized = 1; // the terminal may have changed size meanwhile
}

void fitToTerminal()
{
    resized = 0;
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
        resizeterm(size.ws_row, size.ws_col);
    repaint();
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
    if (resized)
        fitToTerminal();
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

// ---- Start-up checks ---------------------------------------------------

// The terminal's size from the kernel, before curses is started: a terminal
// too small is refused without anything being written to it.
bool tooSmall(int* width, int* height)
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0)
        return false; // unknown here; curses will tell
    *width = size.ws_col;
    *height = size.ws_row;
    return size.ws_col < needColumns || size.ws_row < needRows;
}

void refuseSize(int width, int height)
{
    char message[160];
    std::snprintf(message, sizeof message,
                  "the terminal is %dx%d; the game needs at least %d columns by %d rows", width,
                  height, needColumns, needRows);
    refuse(message);
}

// Keys without waiting: reads return at once, with whatever is there.
void readWithoutWaiting()
{
    termios modes{};
    if (tcgetattr(STDIN_FILENO, &modes) != 0)
        return;
    modes.c_cc[VMIN] = 0;
    modes.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &modes);
    def_prog_mode();
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
        std::snprintf(message, sizeof message, "the terminal type '%.64s' is not known here",
                      term);
        refuse(message);
        return 0;
    }
    del_curterm(cur_term);
    int width = 0, height = 0;
    if (tooSmall(&width, &height)) {
        refuseSize(width, height);
        return 0;
    }

    // Ours before curses starts, so that it leaves these signals to us.
    catchSignals();
    terminal = newterm(nullptr, stdout, stdin);
    if (terminal == nullptr) {
        refuse("the terminal cannot be used");
        return 0;
    }
    set_term(terminal);
    if (COLS < needColumns || LINES < needRows) {
        const int columnsSeen = COLS, rowsSeen = LINES;
        leaveTerminal();
        refuseSize(columnsSeen, rowsSeen);
        return 0;
    }
    cbreak();
    noecho();
    nonl();
    typeahead(-1); // never cut a refresh short because keys are waiting
    curs_set(0);
    readWithoutWaiting();
    utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;

    // The screen and its shadow start out blank together.
    std::memset(shadow, ' ', sizeof shadow);
    cx = cy = 0;
    keyLeftState = keyUpState = keyRightState = keyDownState = keyEscapeState = KeyState{};
    enterSeen = enhanced = false;
    resetKeys(decoder);
    lastHangupCheck = std::time(nullptr);
    clear();
    refresh();
    detectProtocol();
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
    drawGlyph(cy, cx, static_cast<unsigned char>(code));
    if (++cx == shadowWidth)
        nextLine();
}

void conPutText(const char* text)
{
    // A newline moves the cursor and nothing else: curses' own newline
    // would clear the rest of the row.
    for (; *text != '\0'; ++text) {
        if (*text == '\n')
            nextLine();
        else
            conPutCode(static_cast<unsigned char>(*text));
    }
}

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
    if (cy < LINES && cx < COLS)
        move(cy, cx);
    refresh();
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
    popProtocol(); // plain keys at the prompt, as in any other program
    enhanced = false;
    curs_set(1);
    conFlush();
    for (;;) {
        handleSignals();
        if (enterSeen)
            return;
        pollfd in{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&in, 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
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

// The terminal backend for Linux and macOS, through ncursesw.
//
// A terminal cannot be asked what it shows, so every code written is kept in
// a shadow of the screen and read back from there: the read-back then
// returns exactly the code that was written, 0 included. The cells are drawn
// as the glyphs the codes stand for in the console's code page.
#define NCURSES_WIDECHAR 1
#define _XOPEN_SOURCE_EXTENDED 1

#include <curses.h>
#include <term.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace {

// The game's screen: the well and panel in 26 columns, the status lines and
// the exit prompt down to row 20.
constexpr int needColumns = 26;
constexpr int needRows = 21;

// Large enough for any position the game can ask for; writes beyond the
// terminal's edge are kept here and simply not shown.
constexpr int shadowWidth = 256;
constexpr int shadowHeight = 128;

SCREEN* terminal = nullptr; // our curses screen on the tty
WINDOW* input = nullptr; // a pad: reading keys from it never refreshes the screen
bool utf8 = false;       // glyphs as Unicode, or the portable curses fallback

unsigned char shadow[shadowHeight][shadowWidth]; // codes written, as shown
int cx = 0, cy = 0;                              // the cursor, in console terms

// One latch per key: set when the key arrives, cleared when it is polled.
bool latchLeft, latchUp, latchRight, latchDown, latchEscape;
bool enterSeen; // an Enter typed during play, kept for the exit prompt

void refuse(const char* message) { std::fprintf(stderr, "blockfall: %s\n", message); }

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

void nextLine()
{
    cx = 0;
    if (cy < shadowHeight - 1)
        ++cy;
}

// Takes every byte waiting on input, without blocking, into the latches.
void drainInput()
{
    for (int ch = wgetch(input); ch != ERR; ch = wgetch(input)) {
        switch (ch) {
        case KEY_LEFT: latchLeft = true; break;
        case KEY_UP: latchUp = true; break;
        case KEY_RIGHT: latchRight = true; break;
        case KEY_DOWN: latchDown = true; break;
        case 27: latchEscape = true; break;
        case '\r':
        case '\n':
        case KEY_ENTER: enterSeen = true; break;
        default: break; // not a key of the game
        }
    }
}

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

} // namespace

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

    terminal = newterm(nullptr, stdout, stdin);
    if (terminal == nullptr) {
        refuse("the terminal cannot be used");
        return 0;
    }
    set_term(terminal);
    if (COLS < needColumns || LINES < needRows) {
        endwin();
        delscreen(terminal);
        terminal = nullptr;
        refuseSize(COLS, LINES);
        return 0;
    }
    cbreak();
    noecho();
    nonl();
    curs_set(0);
    set_escdelay(25); // a lone Escape must not wait for a sequence that never comes
    utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;

    input = newpad(1, 1);
    keypad(input, TRUE);
    nodelay(input, TRUE);
    // Arrows in both cursor-key modes, whatever the terminal description
    // says it sends.
    define_key("\033[A", KEY_UP);
    define_key("\033[B", KEY_DOWN);
    define_key("\033[C", KEY_RIGHT);
    define_key("\033[D", KEY_LEFT);
    define_key("\033OA", KEY_UP);
    define_key("\033OB", KEY_DOWN);
    define_key("\033OC", KEY_RIGHT);
    define_key("\033OD", KEY_LEFT);

    // The screen and its shadow start out blank together.
    std::memset(shadow, ' ', sizeof shadow);
    cx = cy = 0;
    latchLeft = latchUp = latchRight = latchDown = latchEscape = enterSeen = false;
    clear();
    refresh();
    return 1;
}

void platformClose()
{
    if (terminal == nullptr)
        return;
    curs_set(1);
    endwin();
    if (input != nullptr)
        delwin(input);
    input = nullptr;
    delscreen(terminal);
    terminal = nullptr;
}

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
    drainInput();
    bool* latch = nullptr;
    switch (key) {
    case keyLeft: latch = &latchLeft; break;
    case keyUp: latch = &latchUp; break;
    case keyRight: latch = &latchRight; break;
    case keyDown: latch = &latchDown; break;
    case keyEscape: latch = &latchEscape; break;
    default: return 0;
    }
    const bool pressed = *latch;
    *latch = false;
    return pressed ? 1 : 0;
}

void waitForEnter()
{
    drainInput();
    if (enterSeen)
        return;
    curs_set(1);
    conFlush();
    nodelay(input, FALSE);
    for (;;) {
        const int ch = wgetch(input);
        // ERR is the end of input or a lost terminal: nothing more will come.
        if (ch == ERR || ch == '\r' || ch == '\n' || ch == KEY_ENTER)
            break;
    }
}

void sleepMs(int ms)
{
    timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

int wallClock() { return static_cast<int>(std::time(nullptr)); }

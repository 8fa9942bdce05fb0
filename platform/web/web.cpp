// The browser backend: the game compiled to WebAssembly, playing on an
// xterm.js terminal in a web page (web/page.mjs sets it up).
//
// The frame loop blocks in its pause and in the exit prompt's wait, and a
// page must never block: with Asyncify those waits hand the browser its turn
// and the game resumes where it stood, so the loop keeps its shape and the
// governor tunes the pace as on any console.
//
// The screen is the text library's screen room: the shadow answers the
// read-back, and once a frame the changed cells go to the terminal in one
// write. xterm.js understands the same cursor moves and shows UTF-8.
//
// Keys come from the page's key-down and key-up events and its buttons,
// queued by the page while the game waits and taken in at the frame's Escape
// poll. Each key is down now or was pressed since its last poll, which is
// what the Windows console's GetAsyncKeyState answers.
//
// Time is the page's game clock, which stands while the page is hidden: a
// hidden page is a suspended game, as a terminal game under Ctrl-Z is.
#include <emscripten.h>

#include <cstdio>

#include "platform/platform.h"
#include "platform/text/keystate.h"
#include "platform/text/screen.h"

namespace {

// ---- The page ----------------------------------------------------------
// Module.blockfall is the page's side: its terminal, the queue of key
// events, the game's clock, and what it shows at each step of a game.

// A new game: the page forgets keys typed before it and shows the game's
// keys. 0 when its terminal is smaller than the game.
EM_JS(int, pageOpen, (int columns, int rows), { return Module.blockfall.open(columns, rows); });
EM_JS(int, pageRows, (), { return Module.blockfall.terminal.rows; });
EM_JS(int, pageColumns, (), { return Module.blockfall.terminal.cols; });

// A copy: the terminal parses later, when the game's buffer holds the next frame.
EM_JS(void, pageWrite, (const char* bytes, size_t length),
      { Module.blockfall.terminal.write(HEAPU8.slice(bytes, bytes + length)); });

// The next key event, or -1 when none is queued: the key's virtual-key code,
// plus keyDownFlag for a key-down.
EM_JS(int, pageNextKey, (), {
    const keys = Module.blockfall.keys;
    return keys.length > 0 ? keys.shift() : -1;
});

EM_JS(void, pagePrompting, (), { Module.blockfall.prompting(); });
EM_JS(void, pageEnded, (), { Module.blockfall.ended(); });

// The game's clock in milliseconds: the page's time less the time it spent hidden.
EM_JS(double, pageClock, (), { return Module.blockfall.clock(); });
// Hands the browser its turn for about `ms` milliseconds; on a hidden page,
// until it shows again.
EM_ASYNC_JS(void, pagePause, (double ms), { await Module.blockfall.pause(ms); });

constexpr int keyDownFlag = 0x10000;
constexpr int allKeysUp = 0; // the page lost the keyboard or was hidden: no key is down any more

// ---- Keys --------------------------------------------------------------

struct Input {
    GameKeys keys;
    bool enterSeen; // an Enter typed during play answers the prompt
};
Input input;

void takeKeys()
{
    for (int event = pageNextKey(); event >= 0; event = pageNextKey()) {
        const int key = event & ~keyDownFlag;
        const bool down = (event & keyDownFlag) != 0;
        if (key == allKeysUp) {
            // Its key-up goes elsewhere: a key held while the page lost the
            // keyboard would otherwise stay down for good.
            letGoKeys(input.keys);
        } else if (key == keyEnter) {
            input.enterSeen = input.enterSeen || down;
        } else if (KeyState* k = keyStateOf(input.keys, key)) {
            noteKey(*k, down, true);
        }
    }
}

} // namespace

// ---- The terminal's side of the screen room ----------------------------

void putCapability(const char* s) { screenWrite(s); }

void putCursorMove(int row, int column)
{
    char move[24];
    std::snprintf(move, sizeof move, "\033[%d;%dH", row + 1, column + 1);
    screenWrite(move);
}

void sendFrame(const char* bytes, std::size_t length) { pageWrite(bytes, length); }

// ---- The seam ----------------------------------------------------------

int platformOpen(int columns, int rows)
{
    if (!pageOpen(columns, rows)) {
        std::fprintf(stderr, "blockfall: the page has no terminal of %d columns by %d rows\n",
                     columns, rows);
        return 0;
    }
    ScreenStrings strings;
    strings.clearAll = "\033[H\033[2J";
    strings.hideCursor = "\033[?25l";
    strings.showCursor = "\033[?25h";
    strings.utf8 = true;
    screenStart(strings);
    screenResize(pageRows(), pageColumns());
    screenEnter();
    screenRepaint();
    screenFlush();
    input = Input{};
    return 1;
}

void platformClose()
{
    screenLeave();
    screenFlush();
    pageEnded();
}

int keyPressed(int key)
{
    // Escape is polled last in every frame, right after the pause in which
    // the page ran: one look at the queue there serves the next frame.
    if (key == keyEscape)
        takeKeys();
    return pollKey(input.keys, key);
}

void waitForEnter()
{
    takeKeys();
    if (input.enterSeen)
        return;
    screenShowCursor();
    conFlush();
    pagePrompting();
    while (!input.enterSeen) {
        pagePause(20);
        takeKeys();
    }
}

// The pause runs on the game's clock: one that the page spent partly hidden
// goes on, once the page shows, for what was left of it, and the frame
// resumes at the pace it had.
void sleepMs(int ms)
{
    const double until = pageClock() + ms;
    for (double left = ms; left >= 1; left = until - pageClock())
        pagePause(left);
}

int wallClock() { return static_cast<int>(pageClock() / 1000); }

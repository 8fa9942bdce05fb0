// The browser backend: the game compiled to WebAssembly, playing on a grid
// of text cells in a web page (web/page.mjs makes it).
//
// The frame loop blocks in its pause and in the exit prompt's wait, and a
// page must never block: with Asyncify those waits hand the browser its turn
// and the game resumes where it stood, so the loop keeps its shape and the
// governor tunes the pace as on any console.
//
// The screen is the game's own cells. A page cannot be asked what it shows
// any more than a terminal can, so every code the game writes is kept here
// and read back from here, exactly as written, 0 included. Beside it we keep
// what the page shows; once a frame the rows that differ go to the page in
// one call, as codes, which the page turns into its rows of text. No cursor
// moves and no escape sequences: the page has cells, not a terminal.
//
// Keys come from the page's key-down and key-up events and its buttons,
// queued by the page while the game waits and taken in at the frame's Escape
// poll. Each key is down now or was pressed since its last poll, which is
// what the Windows console's GetAsyncKeyState answers.
//
// Time is the page's game clock, which stands while the page is hidden: a
// hidden page is a suspended game, as a terminal game under Ctrl-Z is.
#include <emscripten.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/text/cells.h"
#include "platform/text/keystate.h"

namespace {

// ---- The page ----------------------------------------------------------
// Module.blockfall is the page's side: its grid, the queue of key events,
// the game's clock, and what it shows at each step of a game.

// A new game: the page makes its grid, at least of the game's size, forgets
// keys typed before it and shows the game's keys. The grid's columns.
EM_JS(int, pageOpen, (int columns, int rows), { return Module.blockfall.open(columns, rows); });

// One frame's changes: the rows marked in `changed` (one byte a row), each
// `columns` codes from `cells` on, a row every `stride` bytes; and the
// cursor's cell, or -1, -1 where the player does not see it. The codes are
// copied: the page draws them now, before the game writes the next frame.
EM_JS(void, pageDraw,
      (const unsigned char* cells, int stride, int columns, const unsigned char* changed, int rows,
       int cursorX, int cursorY),
      {
          const drawn = [];
          for (let y = 0; y < rows; ++y) {
              if (HEAPU8[changed + y])
                  drawn.push([ y, HEAPU8.slice(cells + y * stride, cells + y * stride + columns) ]);
          }
          Module.blockfall.draw(drawn, cursorX, cursorY);
      });

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

// ---- The screen --------------------------------------------------------

// Large enough for any position the game can ask for; the page shows the
// part of it the game said it needs.
constexpr int width = 256;
constexpr int height = 128;

struct Screen {
    unsigned char cells[height][width]; // codes written, as the game sees them
    unsigned char shown[height][width]; // what the page shows, where `known`
    bool known[height];                 // rows whose `shown` the page vouches for
    unsigned char changed[height];      // rows to draw this frame, for the page
    int x, y;                           // the game's cursor
    int columns, rows;                  // the page's grid
    bool cursorShown;                   // the player sees the cursor only at the prompt
};
Screen s;

void nextLine()
{
    s.x = 0;
    if (s.y < height - 1)
        ++s.y;
}

bool onScreen(int x, int y) { return x >= 0 && y >= 0 && x < width && y < height; }

// The cursor's row is drawn again when it shows or hides there.
void cursorShown(bool shown)
{
    s.cursorShown = shown;
    if (s.y < height)
        s.known[s.y] = false;
}

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

// ---- The seam ----------------------------------------------------------

int platformOpen(int columns, int rows)
{
    // A new game starts on the page's blank grid; its first frame draws every row.
    std::memset(s.cells, ' ', sizeof s.cells);
    std::memset(s.known, 0, sizeof s.known);
    s.x = s.y = 0;
    s.rows = rows < height ? rows : height;
    s.cursorShown = false;
    input = Input{};
    const int shown = pageOpen(columns, s.rows);
    s.columns = shown < width ? shown : width;
    return 1;
}

void platformClose()
{
    cursorShown(false); // the prompt's cursor has had its say
    conFlush();
    pageEnded();
}

void conSetCursor(short x, short y)
{
    if (onScreen(x, y)) {
        s.x = x;
        s.y = y;
    }
}

void conPutCode(int code)
{
    s.cells[s.y][s.x] = static_cast<unsigned char>(code);
    if (++s.x == width)
        nextLine();
}

void conPutText(const char* text) { putTextAsCells(text, conPutCode, nextLine); }

int conScreenError() { return 0; }

int conReadCode(short x, short y, int* code)
{
    if (!onScreen(x, y))
        return 0;
    *code = s.cells[y][x];
    return 1;
}

void conFlush()
{
    bool any = false;
    for (int y = 0; y < s.rows; ++y) {
        const bool differs = !s.known[y] || std::memcmp(s.shown[y], s.cells[y], s.columns) != 0;
        s.changed[y] = differs ? 1 : 0;
        if (differs) {
            std::memcpy(s.shown[y], s.cells[y], s.columns);
            s.known[y] = true;
            any = true;
        }
    }
    if (any) {
        const bool cursor = s.cursorShown && s.y < s.rows && s.x < s.columns;
        pageDraw(&s.cells[0][0], width, s.columns, s.changed, s.rows, cursor ? s.x : -1,
                 cursor ? s.y : -1);
    }
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
    cursorShown(true);
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

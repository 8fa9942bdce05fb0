// The one seam to the outside world: the screen, the keys, the clock.
//
// The game calls these free functions; the executable links one backend
// (a terminal through terminfo, the Windows console, or a terminal in a web
// page), the tests link an in-memory console. Nothing outside platform/ knows which it runs on.
//
// The frame contract, which every backend may rely on and must honour:
// Escape is polled exactly once in every frame, and last, after the frame's
// drawing has been flushed and its pause taken. That poll is the frame's one
// point of contact with the outside: a backend takes in input there, acts
// there on what signals, resizes or a lost console asked for, and may
// suspend or end the process there. Every other call returns promptly and
// changes nothing but what it names. The frame's pause (sleepMs) may take
// in input as it arrives, so that no key is read late, but what it notes is
// acted on only at the Escape poll. The exit prompt's wait is the one other
// place where the outside is attended to.
#pragma once

// ---- Lifecycle ---------------------------------------------------------

// Takes over the console, which the game needs at least columns wide and
// rows high. Returns 0, having said why on standard error and touched
// nothing, when the game cannot be played here.
int platformOpen(int columns, int rows);
// Gives the console back as it was found.
void platformClose();

// ---- Screen ------------------------------------------------------------
// Positions are console columns and rows from the top-left, 0-based. Cells
// hold codes of the console's 8-bit code page: ASCII, 0 (shown blank), and
// the two the game draws its walls and blocks with, which every backend
// shows as these glyphs.

constexpr int codeDarkShade = 178; // U+2593
constexpr int codeFullBlock = 219; // U+2588

void conSetCursor(short x, short y); // an impossible position is ignored
void conPutCode(int code);           // one 8-bit code at the cursor, then one column on
void conPutText(const char* text);   // '\n' goes to column 0 of the next row, erasing nothing
// 0 when the screen can be queried, otherwise the system's error number.
int conScreenError();
// Stores in *code the 8-bit code shown at (x, y); 0 when it cannot be read.
int conReadCode(short x, short y, int* code);
// Makes everything written so far visible. Once a frame, and before a wait.
void conFlush();

// ---- Keys --------------------------------------------------------------
// Windows virtual-key codes name the keys everywhere.

constexpr int keyLeft = 0x25;
constexpr int keyUp = 0x26;
constexpr int keyRight = 0x27;
constexpr int keyDown = 0x28;
constexpr int keyEscape = 0x1B;
constexpr int keyEnter = 0x0D; // never polled: it answers the exit prompt

// The keys the game polls, in one table: whatever keeps their state,
// scripts them or checks them goes through it, so that a key added here
// reaches every backend.
constexpr int polledKeys[] = {keyLeft, keyUp, keyRight, keyDown, keyEscape};
constexpr int polledKeyCount = sizeof polledKeys / sizeof polledKeys[0];

// A polled key's place in the table, -1 for any other key.
constexpr int polledIndex(int key)
{
    for (int i = 0; i < polledKeyCount; ++i)
        if (polledKeys[i] == key)
            return i;
    return -1;
}

// 1 when the key is down now or was pressed since its last poll. Never
// blocks, never consumes what the exit prompt will read. Polling keyEscape
// ends the frame (see the frame contract above).
int keyPressed(int key);
// Waits for Enter; an Enter typed during play answers at once.
void waitForEnter();

// ---- Time --------------------------------------------------------------

void sleepMs(int ms); // the frame's pause, as long whatever input arrives
int wallClock();      // whole seconds

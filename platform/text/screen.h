// The screen room of every backend that drives a text terminal: the shadow
// the game writes, what the terminal shows, the once-a-frame update into
// one output buffer, the glyphs with their fallbacks, and the repaint.
//
// It knows no terminal database and no device: the terminal's strings come
// in a ScreenStrings record, and the three routines at the end are supplied
// by whoever drives the terminal (the session of the terminal backend, or a
// browser's). That keeps it buildable anywhere, and testable on its own.
#pragma once

#include <cstddef>

// The terminal's strings the screen needs; null where the terminal has none.
struct ScreenStrings {
    const char* clearAll = nullptr;   // clear: blank the screen, cursor home
    const char* hideCursor = nullptr; // civis
    const char* showCursor = nullptr; // cnorm
    const char* reverse = nullptr;    // rev: reverse video on
    const char* plain = nullptr;      // sgr0: attributes off
    const char* altOn = nullptr;      // smacs: line-drawing set on
    const char* altOff = nullptr;     // rmacs: line-drawing set off
    char checkerboard = '#';          // the line-drawing set's checkerboard, '#' when none
    bool utf8 = false;                // glyphs as Unicode, or the fallbacks above
    bool lastCellSafe = false;        // writing the bottom-right cell does not scroll
};

// ---- Set-up and the terminal's extent ----------------------------------

// A blank shadow, the game's cursor home and hidden, nothing buffered.
void screenStart(const ScreenStrings& strings);
// The terminal's size, held here alone; what lies beyond it is kept and
// shown once it fits.
void screenResize(int rows, int columns);
int screenRows();
int screenColumns();
// Taking the terminal over: the cursor's visibility as the game wants it
// (what it shows is then drawn afresh, by a repaint or a line alone).
// Leaving: the cursor shown again.
void screenEnter();
void screenLeave();
// Forgets what the terminal shows and redraws it whole from the shadow, the
// cursor, if shown, where the game left it.
void screenRepaint();
// Blanks the terminal and shows just this line in its top-left corner, as
// much of it as fits. It stands alone until the next repaint: what the
// terminal shows of the game is then unknown, and nothing is written over
// it, neither the game's changes nor an echo; the shadow is kept for the
// repaint.
void screenShowAlone(const char* line);
// What the prompt's line echoes, written where the last echo (or the shown
// cursor) left the terminal's cursor.
void screenEcho(const char* bytes);
// From now on the player sees the cursor where the game leaves it.
void screenShowCursor();
// The column the game's cursor stands in.
int screenCursorColumn();

// ---- What the game writes (the shadow) ---------------------------------

void screenSetCursor(int x, int y); // an impossible position is ignored
void screenPutCode(int code);
void screenPutText(const char* text); // '\n' to column 0 of the next row
// The code last written at (x, y), 0 included; false off the shadow.
bool screenReadCode(int x, int y, int* code);

// ---- The frame ---------------------------------------------------------

// Puts every cell that differs from what the terminal shows into the frame
// (each run of them behind one cursor move), then the cursor if shown.
void screenUpdate();
// Raw bytes into the frame: keyboard-protocol requests and the like.
void screenWrite(const char* bytes);
// One byte into the frame, NUL included (a terminal's padding may be NULs).
void screenWriteByte(char byte);
// Sends the frame, in one write when the terminal takes it whole.
void screenFlush();

// ---- Supplied by whoever drives the terminal ---------------------------

// Puts one of the terminal's strings into the frame (through screenWrite,
// or through a padding-aware routine that ends in screenWriteByte).
void putCapability(const char* s);
// Puts the terminal's cursor-addressing string for (row, column) there.
void putCursorMove(int row, int column);
// Hands one frame's bytes to the terminal.
void sendFrame(const char* bytes, std::size_t length);

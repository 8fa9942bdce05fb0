// The screen room: a terminal cannot be asked what it shows, so every code
// the game writes is kept in a shadow and read back from there, exactly as
// written, 0 included. Beside it we keep what the terminal shows now; once a
// frame the cells that differ go out in a single write, each run of them
// behind one cursor move. A resize or a return from suspension repaints the
// screen whole from the shadow.
#include "platform/text/screen.h"

#include <cstring>

#include "platform/platform.h"
#include "platform/text/cells.h"

namespace {

// Large enough for any position the game can ask for.
constexpr int shadowWidth = 256;
constexpr int shadowHeight = 128;
constexpr short unknown = -1; // a cell whose content on the terminal we cannot vouch for

struct Screen {
    unsigned char shadow[shadowHeight][shadowWidth]; // codes written, as the game sees them
    short shown[shadowHeight][shadowWidth];          // codes on the terminal now, or unknown
    bool dirty[shadowHeight];                        // rows where the two may differ
    int cx, cy;                                      // the game's cursor
    int rows, columns;                               // the terminal's size
    int atY, atX;          // the terminal's cursor, -1 when we do not know it
    bool cursorShown;      // the player sees the cursor only at the prompt
    bool alone;            // a line of its own stands alone: nothing else shows until a repaint
    ScreenStrings strings; // the terminal's own sequences
    char out[1 << 16];     // one frame's output, written at once
    std::size_t outLength; // bytes of it so far
};
Screen s;

void append(const char* bytes, std::size_t n)
{
    if (s.outLength + n > sizeof s.out)
        screenFlush();
    if (n <= sizeof s.out) {
        std::memcpy(s.out + s.outLength, bytes, n);
        s.outLength += n;
    }
}

void moveTo(int y, int x)
{
    if (y == s.atY && x == s.atX)
        return;
    putCursorMove(y, x);
    s.atY = y;
    s.atX = x;
}

// One cell's glyph: the shade and the full block in Unicode, or the
// terminal's checkerboard and a reverse-video space; code 0 shows blank.
void putGlyph(unsigned char code)
{
    const ScreenStrings& t = s.strings;
    char one[2] = {' ', '\0'};
    if (code == codeDarkShade) {
        if (t.utf8) {
            screenWrite("\xe2\x96\x93");
        } else if (t.altOn != nullptr && t.checkerboard != '#') {
            putCapability(t.altOn);
            one[0] = t.checkerboard;
            screenWrite(one);
            putCapability(t.altOff);
        } else {
            screenWrite("#");
        }
        return;
    }
    if (code == codeFullBlock) {
        if (t.utf8) {
            screenWrite("\xe2\x96\x88");
        } else if (t.reverse != nullptr) {
            putCapability(t.reverse);
            screenWrite(" ");
            putCapability(t.plain);
        } else {
            screenWrite("#");
        }
        return;
    }
    if (code >= 32 && code < 127)
        one[0] = static_cast<char>(code);
    else if (code != 0)
        one[0] = '?';
    screenWrite(one);
}

// Every cell that differs from what the terminal shows. The very last cell
// of the screen is written only where that cannot scroll it: a terminal that
// wraps late (xenl) or not at all (no am). Elsewhere it is left alone.
void diff()
{
    if (s.alone)
        return;
    const bool lastCellSafe = s.strings.lastCellSafe;
    for (int y = 0; y < s.rows && y < shadowHeight; ++y) {
        if (!s.dirty[y])
            continue;
        s.dirty[y] = false;
        for (int x = 0; x < s.columns && x < shadowWidth; ++x) {
            if (s.shown[y][x] == s.shadow[y][x] ||
                (!lastCellSafe && y == s.rows - 1 && x == s.columns - 1))
                continue;
            moveTo(y, x);
            putGlyph(s.shadow[y][x]);
            s.shown[y][x] = s.shadow[y][x];
            // At the right edge the cursor's place is up to the terminal.
            s.atX = x + 1 < s.columns ? x + 1 : -1;
        }
    }
}

void nextLine()
{
    s.cx = 0;
    if (s.cy < shadowHeight - 1)
        ++s.cy;
}

// Where the game left its cursor, when the player sees it.
void placeCursor()
{
    if (s.cursorShown && !s.alone && s.cy < s.rows && s.cx < s.columns)
        moveTo(s.cy, s.cx);
}

// Nothing on the terminal vouched for: every cell taken to show `shown`,
// every row to be looked at again, the cursor's place unknown.
void forgetShown(short shown)
{
    s.atY = s.atX = -1;
    for (int y = 0; y < shadowHeight; ++y) {
        for (int x = 0; x < shadowWidth; ++x)
            s.shown[y][x] = shown;
        s.dirty[y] = true;
    }
}

bool onShadow(int x, int y) { return x >= 0 && y >= 0 && x < shadowWidth && y < shadowHeight; }

} // namespace

void screenStart(const ScreenStrings& strings)
{
    // The screen and its shadow start out blank together.
    std::memset(s.shadow, ' ', sizeof s.shadow);
    s.cx = s.cy = 0;
    s.atY = s.atX = -1;
    s.cursorShown = false;
    s.alone = false;
    s.strings = strings;
    s.outLength = 0;
}

void screenResize(int rows, int columns)
{
    s.rows = rows;
    s.columns = columns;
}

int screenRows() { return s.rows; }
int screenColumns() { return s.columns; }

void screenEnter()
{
    if (!s.cursorShown)
        putCapability(s.strings.hideCursor);
}

void screenLeave() { putCapability(s.strings.showCursor); }

void screenRepaint()
{
    putCapability(s.strings.clearAll);
    forgetShown(s.strings.clearAll != nullptr ? short{' '} : unknown);
    s.alone = false;
    diff();
    placeCursor();
}

void screenShowAlone(const char* line)
{
    putCapability(s.strings.clearAll);
    putCursorMove(0, 0);
    // On a terminal of one row the line's last cell is the screen's.
    const int width = s.rows > 1 || s.strings.lastCellSafe ? s.columns : s.columns - 1;
    for (int x = 0; x < width && line[x] != '\0'; ++x)
        screenWriteByte(line[x]);
    forgetShown(unknown);
    s.alone = true;
}

void screenEcho(const char* bytes)
{
    if (s.alone)
        return;
    screenWrite(bytes);
    s.atY = s.atX = -1;
}

int screenCursorColumn() { return s.cx; }

void screenShowCursor()
{
    s.cursorShown = true;
    putCapability(s.strings.showCursor);
}

void screenSetCursor(int x, int y)
{
    if (!onShadow(x, y))
        return;
    s.cx = x;
    s.cy = y;
}

void screenPutCode(int code)
{
    s.shadow[s.cy][s.cx] = static_cast<unsigned char>(code);
    s.dirty[s.cy] = true;
    if (++s.cx == shadowWidth)
        nextLine();
}

void screenPutText(const char* text) { putTextAsCells(text, screenPutCode, nextLine); }

bool screenReadCode(int x, int y, int* code)
{
    if (!onShadow(x, y))
        return false;
    *code = s.shadow[y][x];
    return true;
}

void screenUpdate()
{
    diff();
    // The cursor is hidden in play: wherever the update left it will do.
    placeCursor();
}

void screenWrite(const char* bytes)
{
    if (bytes != nullptr)
        append(bytes, std::strlen(bytes));
}

void screenWriteByte(char byte) { append(&byte, 1); }

void screenFlush()
{
    if (s.outLength > 0)
        sendFrame(s.out, s.outLength);
    s.outLength = 0;
}

// The in-memory console. See memory.h.
#include "platform/memory/memory.h"

#include <cstring>

#include "platform/platform.h"
#include "platform/text/cells.h"

MemoryConsole mem;

unsigned keyBit(int key)
{
    const int i = polledIndex(key);
    return i < 0 ? 0u : 1u << i;
}

void memReset(int startSeconds, int frameCostMs, int maxFrames)
{
    std::memset(mem.screen, ' ', sizeof mem.screen);
    mem.cx = mem.cy = 0;
    mem.maxFrames = maxFrames;
    mem.keys.assign(static_cast<size_t>(maxFrames) + 1, 0u);
    mem.polled.assign(static_cast<size_t>(maxFrames) + 1, 0u);
    mem.onFrameEnd = nullptr;
    mem.frameCostMs = frameCostMs;
    mem.screenError = 0;
    mem.readFails = false;
    mem.frame = 0;
    mem.clockMs = 0;
    mem.startSeconds = startSeconds;
    mem.cellsWritten = mem.cellsRead = mem.cursorMoves = mem.keyPolls = mem.sleeps = 0;
    mem.lastSleepMs = 0;
    mem.enterWaits = 0;
    mem.promptX = mem.promptY = -1;
    mem.open = false;
}

void memHold(int key, int first, int last)
{
    for (int f = first; f <= last && f <= mem.maxFrames; ++f)
        mem.keys[static_cast<size_t>(f)] |= keyBit(key);
}

bool memPolled(int key, int frame)
{
    return (mem.polled[static_cast<size_t>(frame)] & keyBit(key)) != 0;
}

int memCode(int x, int y) { return mem.screen[y][x]; }

static char asciiOf(unsigned char code)
{
    switch (code) {
    case codeDarkShade: return '#';
    case codeFullBlock: return 'X';
    case 0: return '.';
    default: return (code >= 32 && code < 127) ? static_cast<char>(code) : '?';
    }
}

std::string memText(int x, int y, int n)
{
    std::string s;
    for (int i = x; i < x + n && i < MemoryConsole::width; ++i)
        s += asciiOf(mem.screen[y][i]);
    return s;
}

std::string memRow(int y) { return memText(0, y, MemoryConsole::width); }

// ---- The seam ----------------------------------------------------------

int platformOpen(int columns, int rows)
{
    mem.open = columns <= MemoryConsole::width && rows <= MemoryConsole::height;
    return mem.open ? 1 : 0;
}

void platformClose() { mem.open = false; }

void conSetCursor(short x, short y)
{
    // Like a real console, a position outside the buffer is refused.
    if (x < 0 || y < 0 || x >= MemoryConsole::width || y >= MemoryConsole::height)
        return;
    mem.cx = x;
    mem.cy = y;
    ++mem.cursorMoves;
}

static void nextLine()
{
    mem.cx = 0;
    if (mem.cy < MemoryConsole::height - 1)
        ++mem.cy;
}

void conPutCode(int code)
{
    mem.screen[mem.cy][mem.cx] = static_cast<unsigned char>(code);
    ++mem.cellsWritten;
    if (++mem.cx == MemoryConsole::width)
        nextLine();
}

void conPutText(const char* text) { putTextAsCells(text, conPutCode, nextLine); }

int conScreenError() { return mem.screenError; }

int conReadCode(short x, short y, int* code)
{
    ++mem.cellsRead;
    if (mem.readFails || x < 0 || y < 0 || x >= MemoryConsole::width || y >= MemoryConsole::height)
        return 0;
    *code = mem.screen[y][x];
    return 1;
}

void conFlush()
{
    // The memory console shows every write at once.
}

int keyPressed(int key)
{
    ++mem.keyPolls;
    const int f = mem.frame <= mem.maxFrames ? mem.frame : mem.maxFrames;
    mem.polled[static_cast<size_t>(f)] |= keyBit(key);
    const bool down = (mem.keys[static_cast<size_t>(f)] & keyBit(key)) != 0;
    if (key != keyEscape)
        return down ? 1 : 0;

    // The Escape poll ends the frame.
    if (mem.onFrameEnd)
        mem.onFrameEnd(mem.frame);
    mem.clockMs += mem.frameCostMs;
    ++mem.frame;
    return (down || mem.frame > mem.maxFrames) ? 1 : 0;
}

void waitForEnter()
{
    ++mem.enterWaits;
    mem.promptX = mem.cx;
    mem.promptY = mem.cy;
}

void sleepMs(int ms)
{
    ++mem.sleeps;
    mem.lastSleepMs = ms;
    mem.clockMs += ms;
}

int wallClock() { return mem.startSeconds + static_cast<int>(mem.clockMs / 1000); }

// The Windows console backend, on the console API itself.
//
// Cells are written and read back with the wide-character calls, and the two
// block glyphs are mapped to and from their code-page codes here: a console
// whose output code page is not an OEM one (65001 on newer terminals) would
// otherwise show the wrong glyph for the two drawing codes and read back a
// different code, so that the board was redrawn in full after every landing.
// Code 0, the row below the floor, is written as a space: a console stores
// nothing else for it, and some show a NUL as a box or drop it. Texts are
// plain ASCII and written as they are. Nothing is buffered: every write
// reaches the console before the next cursor move.
//
// The frame contract (platform.h) holds trivially: key state is the
// system's own, asked afresh at every poll, and nothing is queued for the
// Escape poll to take in, so that poll is one like any other; the console's
// control events reach the process outside the frame, on a thread of their
// own.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace {

HANDLE output = INVALID_HANDLE_VALUE;
CONSOLE_CURSOR_INFO cursorAsFound{}; // put back at the prompt and on the way out
// Also read by the control handler, on a thread of its own.
std::atomic<bool> cursorHidden{false};

// The two drawing codes and their glyphs, one table read both ways.
struct Glyph {
    int code;
    wchar_t glyph;
};
constexpr Glyph glyphs[] = {{codeDarkShade, L'\u2593'}, {codeFullBlock, L'\u2588'}};

wchar_t glyphOf(int code)
{
    for (const Glyph& g : glyphs)
        if (g.code == code)
            return g.glyph;
    if (code == 0)
        return L' ';
    return static_cast<wchar_t>(code < 128 ? code : '?');
}

int codeOf(wchar_t glyph)
{
    for (const Glyph& g : glyphs)
        if (g.glyph == glyph)
            return g.code;
    return glyph < 128 ? static_cast<int>(glyph) : '?';
}

void showCursor()
{
    if (cursorHidden.exchange(false))
        SetConsoleCursorInfo(output, &cursorAsFound);
}

// Ctrl-C, Ctrl-Break and closing the window end the game wherever it
// stands; the cursor is given back first. An interrupted game ends with the
// status of an interrupted console program, as the system's own handler
// would give it, so that a script can tell it from a game left by Enter.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    showCursor();
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    return FALSE; // closing: the system ends the process as it would have
}

} // namespace

// The size is not measured: on a console window smaller than the game,
// what does not fit is not seen.
int platformOpen(int /*columns*/, int /*rows*/)
{
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || output == nullptr || !GetConsoleMode(output, &mode)) {
        std::fprintf(stderr, "blockfall: needs a console: standard output must be a console "
                             "window, not a file or a pipe\n");
        return 0;
    }
    // The game draws at the top-left; its cursor would only flicker there.
    if (GetConsoleCursorInfo(output, &cursorAsFound)) {
        CONSOLE_CURSOR_INFO hidden = cursorAsFound;
        hidden.bVisible = FALSE;
        cursorHidden = SetConsoleCursorInfo(output, &hidden) != 0;
    }
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    return 1;
}

void platformClose() { showCursor(); }

void conSetCursor(short x, short y)
{
    COORD at{x, y};
    SetConsoleCursorPosition(output, at); // a failure is ignored
}

void conPutCode(int code)
{
    const wchar_t glyph = glyphOf(code);
    DWORD written = 0;
    WriteConsoleW(output, &glyph, 1, &written, nullptr);
}

void conPutText(const char* text)
{
    // With processed output, as a console starts, '\n' returns to column 0
    // of the next row and erases nothing.
    DWORD written = 0;
    WriteConsoleA(output, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

int conScreenError()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(output, &info))
        return 0;
    return static_cast<int>(GetLastError());
}

int conReadCode(short x, short y, int* code)
{
    wchar_t glyph = 0;
    DWORD read = 0;
    COORD at{x, y};
    if (!ReadConsoleOutputCharacterW(output, &glyph, 1, at, &read) || read != 1)
        return 0;
    *code = codeOf(glyph);
    return 1;
}

void conFlush()
{
    // Console writes are never held back.
}

int keyPressed(int key) { return GetAsyncKeyState(key) != 0 ? 1 : 0; }

void waitForEnter()
{
    showCursor();
    // Line input: this returns when Enter is pressed, or at once for an
    // Enter typed during play. The end of input ends the wait too.
    std::getchar();
    // The key polls leave every key typed during play in the console's
    // input; what the prompt did not read would otherwise go to the program
    // that reads the console next (an Up recalls the shell's last command).
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

void sleepMs(int ms) { Sleep(static_cast<DWORD>(ms)); }

int wallClock() { return static_cast<int>(std::time(nullptr)); }

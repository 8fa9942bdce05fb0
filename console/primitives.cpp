// Cursor moves, single cells and short texts: every drawing is built from
// these.
#include <cstdarg>
#include <cstdio>

#include "console/console.h"
#include "platform/platform.h"

void gotoxy(int x, int y) { conSetCursor(static_cast<short>(x), static_cast<short>(y)); }

int charAt(short x, short y)
{
    // The query's result is not needed, only whether it worked; a failure is
    // reported where the cursor stands and the read goes ahead regardless.
    const int error = conScreenError();
    if (error != 0)
        printText("GetConsoleScreenBufferInfo (%d)\n", error);
    int code = 0;
    if (conReadCode(x, y, &code))
        return code & 0xFF;
    return emptyCell;
}

void putCode(int code) { conPutCode(code & 0xFF); }

void printText(const char* format, ...)
{
    // Every text the game prints fits; a longer one is cut, never spilled.
    char text[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    conPutText(text);
}

// The screen half of the seam, for every backend that draws through the
// screen room (a terminal, a web page's terminal): the shadow answers the
// read-back, and a flush sends the frame's changes in one write.
#include "platform/platform.h"
#include "platform/text/screen.h"

void conSetCursor(short x, short y) { screenSetCursor(x, y); }
void conPutCode(int code) { screenPutCode(code); }
void conPutText(const char* text) { screenPutText(text); }
int conScreenError() { return 0; }
int conReadCode(short x, short y, int* code) { return screenReadCode(x, y, code) ? 1 : 0; }

void conFlush()
{
    screenUpdate();
    screenFlush();
}

// The description room of the terminal backend: the terminal's entry in the
// terminal database (or the copy this binary carries), read once through
// one table of capabilities. It only reads; the session room acts on it.
#pragma once

// What the backend reads of the terminal's description. Strings stay as
// terminfo hands them out, null where the terminal has none.
struct Description {
    char* moveTo;         // cursor addressing, which the game cannot do without
    char* enterAlt;       // the alternate screen on
    char* leaveAlt;       // and off
    char* enableAlt;      // makes the line-drawing set reachable
    char* altPairs;       // the line-drawing set: pairs of a name and its character
    char* clearAll;       // blank the screen, cursor home
    char* hideCursor;     // the cursor off
    char* showCursor;     // and on
    char* reverse;        // reverse video on
    char* plain;          // attributes off
    char* altOn;          // the line-drawing set on
    char* altOff;         // and off
    bool lateWrap;        // the cursor wraps only as the next character comes
    bool autoWrap;        // writing the last column wraps at all
    int describedRows;    // the size, where the system cannot say it:
    int describedColumns; // rows and columns
};

// Opens the description of the type term names for the terminal on
// standard output; false when neither the system nor this binary has one.
bool descriptionOpen(const char* term);
// Every capability of the table, from the description opened.
Description descriptionRead();

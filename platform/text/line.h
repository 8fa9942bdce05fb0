// The exit prompt's line, edited as a terminal's own line input edits it:
// what is typed shows after the prompt, the erase key takes back the last
// character and the kill key the whole line, Enter ends the line, and the
// end-of-file key on an empty line ends the input. Pure, like the key
// decoder whose events it takes, so it is tested and fuzzed on its own.
#pragma once

#include "platform/text/keys.h"

// The editing keys, as the terminal's own settings name them.
struct LineKeys {
    unsigned char erase;     // besides DEL and Backspace, which always erase
    unsigned char kill;      // the whole line
    unsigned char endOfFile; // ends the input on an empty line, else hands the line over
};

enum LineResult { lineOpen, lineEntered, lineEndOfInput };

// Echo for one key is at most a kill of the longest line.
constexpr int lineCapacity = 256;
constexpr int lineEchoMax = 3 * lineCapacity + 1;

struct PromptLine {
    LineKeys keys;
    int maxColumns; // columns the text may take: the rest of the prompt's row
    int columns;    // columns the text takes
    int length;     // bytes of text held
    char text[lineCapacity];
    // A UTF-8 character still coming in: its bytes so far (none when 0),
    // how many it takes, and the range its second byte must fall in.
    int pending, needed;
    unsigned char low, high;
    char partial[4];
};

void startLine(PromptLine& line, LineKeys keys, int maxColumns);
// Takes one key event; writes what the terminal must show in answer into
// echo (NUL-terminated, at most lineEchoMax bytes).
LineResult editLine(PromptLine& line, const KeyEvent& e, char* echo);
// The line as typed so far, as much of it as `columns` columns hold (whole
// characters, one column each), into text, NUL-terminated (at most
// lineCapacity + 1 bytes): for showing it again after a repaint.
void lineShown(const PromptLine& line, int columns, char* text);

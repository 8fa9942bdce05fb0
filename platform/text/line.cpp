// The prompt's line editing. See line.h.
#include "platform/text/line.h"

#include <cstring>

namespace {

bool continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Takes back the last character: its UTF-8 bytes, and its column on screen.
void eraseOne(PromptLine& line, char*& echo)
{
    while (line.length > 0 && continuation(static_cast<unsigned char>(line.text[line.length - 1])))
        --line.length;
    if (line.length == 0)
        return;
    --line.length;
    --line.columns;
    std::memcpy(echo, "\b \b", 3);
    echo += 3;
}

void take(PromptLine& line, unsigned char byte, char*& echo)
{
    if (continuation(byte)) {
        if (line.dropping || line.length == 0 || line.length == lineCapacity)
            return;
    } else {
        // Room for the character and its UTF-8 continuation (at most 3 more).
        line.dropping = line.columns >= line.room || line.length > lineCapacity - 4;
        if (line.dropping)
            return;
        ++line.columns;
    }
    line.text[line.length++] = static_cast<char>(byte);
    *echo++ = static_cast<char>(byte);
}

} // namespace

void startLine(PromptLine& line, LineKeys keys, int room)
{
    line.keys = keys;
    line.room = room < 0 ? 0 : room;
    line.columns = 0;
    line.length = 0;
    line.dropping = false;
}

LineResult editLine(PromptLine& line, const KeyEvent& e, char* echo)
{
    *echo = '\0';
    if (e.key == keyEnter)
        return e.action == keyRelease ? lineOpen : lineEntered;
    if (e.key != keyChar)
        return lineOpen; // arrows, Escape, replies: not part of a line
    const auto byte = static_cast<unsigned char>(e.value);
    if (byte == 0) // NUL, and the value of a key the terminal has turned off
        return lineOpen;
    char* out = echo;
    if (byte == 0x7F || byte == '\b' || byte == line.keys.erase) {
        eraseOne(line, out);
    } else if (byte == line.keys.kill) {
        while (line.length > 0)
            eraseOne(line, out);
    } else if (byte == line.keys.endOfFile) {
        return line.length == 0 ? lineEndOfInput : lineEntered;
    } else if (byte >= 0x20) {
        take(line, byte, out);
    }
    *out = '\0';
    return lineOpen;
}

void lineShown(const PromptLine& line, int columns, char* text)
{
    int length = 0;
    for (int shown = 0; length < line.length; ++length)
        if (!continuation(static_cast<unsigned char>(line.text[length])) && ++shown > columns)
            break;
    std::memcpy(text, line.text, static_cast<std::size_t>(length));
    text[length] = '\0';
}

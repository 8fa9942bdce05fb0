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

// What a UTF-8 lead byte calls for: how many continuation bytes, and the
// range the first of them must fall in, which leaves out the C1 controls
// (C2 80 to C2 9F), overlong forms, surrogates and what lies past U+10FFFF.
// None for a byte that begins no character.
struct Lead {
    int follow;
    unsigned char low, high;
};
Lead leadOf(unsigned char byte)
{
    if (byte >= 0xC2 && byte <= 0xDF)
        return {1, static_cast<unsigned char>(byte == 0xC2 ? 0xA0 : 0x80), 0xBF};
    if (byte >= 0xE0 && byte <= 0xEF)
        return {2, static_cast<unsigned char>(byte == 0xE0 ? 0xA0 : 0x80),
                static_cast<unsigned char>(byte == 0xED ? 0x9F : 0xBF)};
    if (byte >= 0xF0 && byte <= 0xF4)
        return {3, static_cast<unsigned char>(byte == 0xF0 ? 0x90 : 0x80),
                static_cast<unsigned char>(byte == 0xF4 ? 0x8F : 0xBF)};
    return {0, 0, 0};
}

// A whole character, into the line and its echo, where it fits.
void add(PromptLine& line, const char* bytes, int length, char*& echo)
{
    if (line.columns >= line.maxColumns || line.length + length > lineCapacity)
        return;
    std::memcpy(line.text + line.length, bytes, static_cast<std::size_t>(length));
    std::memcpy(echo, bytes, static_cast<std::size_t>(length));
    line.length += length;
    echo += length;
    ++line.columns;
}

// Text is taken a whole character at a time, and only as well-formed UTF-8
// with no control in it: a C1 control echoed back, raw (9B) or encoded
// (C2 9B), would be read by the terminal as the start of a command.
void take(PromptLine& line, unsigned char byte, char*& echo)
{
    if (byte < 0x80) {
        line.pending = 0;
        const char one = static_cast<char>(byte);
        add(line, &one, 1, echo);
    } else if (continuation(byte)) {
        const bool expected = line.pending > 0 && line.pending < line.needed &&
                              (line.pending > 1 || (byte >= line.low && byte <= line.high));
        if (!expected) {
            line.pending = 0;
            return;
        }
        line.partial[line.pending++] = static_cast<char>(byte);
        if (line.pending == line.needed) {
            add(line, line.partial, line.needed, echo);
            line.pending = 0;
        }
    } else {
        const Lead lead = leadOf(byte);
        line.pending = lead.follow > 0 ? 1 : 0;
        line.needed = lead.follow + 1;
        line.low = lead.low;
        line.high = lead.high;
        line.partial[0] = static_cast<char>(byte);
    }
}

} // namespace

void startLine(PromptLine& line, LineKeys keys, int maxColumns)
{
    line.keys = keys;
    line.maxColumns = maxColumns < 0 ? 0 : maxColumns;
    line.columns = 0;
    line.length = 0;
    line.pending = 0;
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
    const bool editing = byte == 0x7F || byte == '\b' || byte == line.keys.erase ||
                         byte == line.keys.kill || byte == line.keys.endOfFile;
    if (editing || byte < 0x20)
        line.pending = 0; // a control cuts short a character begun
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

// Fuzzes the terminal key decoder: no input may crash it, overrun it or
// make it report anything but a known key, and where a read happens to be
// cut must not change what it reports. The keys then go to the exit
// prompt's line editing, which must keep its line within its columns and show
// the player exactly the line it holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/text/keys.h"
#include "platform/text/line.h"

namespace {

bool known(const KeyEvent& e)
{
    switch (e.key) {
    case keyEnter:
    case keyInterrupt:
    case keySuspend:
    case keyQuit:
    case keyChar:
    case replyProtocolFlags:
    case replyDeviceAttributes: break;
    default:
        if (polledIndex(e.key) < 0)
            return false;
    }
    return e.action >= keyPress && e.action <= keyRelease;
}

std::vector<KeyEvent> decode(const uint8_t* data, size_t size)
{
    KeyDecoder d;
    resetKeys(d);
    std::vector<KeyEvent> events;
    KeyEvent e;
    for (size_t i = 0; i < size; ++i) {
        if (feedKey(d, data[i], &e)) {
            if (!known(e))
                std::abort();
            events.push_back(e);
        }
        if (d.length < 0 || d.length > static_cast<int>(sizeof d.params))
            std::abort();
    }
    if (settleKeys(d, &e))
        events.push_back(e);
    return events;
}

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// What the echo leaves on the prompt's row: bytes shown, "\b \b" taking
// back the last character.
void show(std::string& row, const char* echo)
{
    for (const char* p = echo; *p != '\0';) {
        if (std::strncmp(p, "\b \b", 3) == 0) {
            while (!row.empty() && continuation(row.back()))
                row.pop_back();
            if (row.empty())
                std::abort(); // erased more than was shown
            row.pop_back();
            p += 3;
        } else {
            row += *p++;
        }
    }
}

void editPrompt(const std::vector<KeyEvent>& events, const uint8_t* data, size_t size)
{
    PromptLine line;
    const int maxColumns = size > 1 ? data[1] % 100 : 10;
    startLine(line, {size > 2 ? data[2] : uint8_t{0x7F}, 0x15, 0x04}, maxColumns);
    std::string row;
    for (const KeyEvent& e : events) {
        char echo[lineEchoMax];
        const LineResult result = editLine(line, e, echo);
        if (std::strlen(echo) >= sizeof echo)
            std::abort();
        show(row, echo);
        int columns = 0;
        for (int i = 0; i < line.length; ++i)
            columns += continuation(line.text[i]) ? 0 : 1;
        if (line.length < 0 || line.length > lineCapacity || columns != line.columns ||
            line.columns > maxColumns ||
            row != std::string(line.text, static_cast<size_t>(line.length)))
            std::abort();
        if (result != lineOpen)
            break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The decoder keeps its place between reads, so one stream fed in any
    // pieces (without a silence) gives the same keys as fed whole.
    const std::vector<KeyEvent> whole = decode(data, size);
    KeyDecoder d;
    resetKeys(d);
    std::vector<KeyEvent> pieces;
    KeyEvent e;
    size_t i = 0;
    const size_t step = 1 + data[0] % 7;
    while (i < size) {
        for (size_t end = i + step; i < end && i < size; ++i)
            if (feedKey(d, data[i], &e))
                pieces.push_back(e);
    }
    if (settleKeys(d, &e))
        pieces.push_back(e);
    if (pieces.size() != whole.size())
        std::abort();
    for (size_t k = 0; k < whole.size(); ++k)
        if (pieces[k].key != whole[k].key || pieces[k].action != whole[k].action)
            std::abort();
    editPrompt(whole, data, size);
    return 0;
}

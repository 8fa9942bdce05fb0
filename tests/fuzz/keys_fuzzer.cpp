// Fuzzes the terminal key decoder: no input may crash it, overrun it or
// make it report anything but a known key, and where a read happens to be
// cut must not change what it reports.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/keys.h"

namespace {

bool known(const KeyEvent& e)
{
    switch (e.key) {
    case keyLeft:
    case keyUp:
    case keyRight:
    case keyDown:
    case keyEscape:
    case keyEnter:
    case keyInterrupt:
    case keySuspend:
    case keyQuit:
    case replyProtocolFlags:
    case replyDeviceAttributes: break;
    default: return false;
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
    if (pauseKeys(d, &e))
        events.push_back(e);
    return events;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The decoder keeps its place between reads, so one stream fed in any
    // pieces (without a pause) gives the same keys as fed whole.
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
    if (pauseKeys(d, &e))
        pieces.push_back(e);
    if (pieces.size() != whole.size())
        std::abort();
    for (size_t k = 0; k < whole.size(); ++k)
        if (pieces[k].key != whole[k].key || pieces[k].action != whole[k].action)
            std::abort();
    return 0;
}

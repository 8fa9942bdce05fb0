// Terminal bytes to key events: legacy and protocol forms, cut anywhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/keys.h"

namespace {

struct Seen {
    int key;
    int action;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s)
{
    return os << "{key " << s.key << ", action " << s.action << "}";
}

// Feeds the bytes in the given pieces, with a pause after each piece when
// asked; returns every event.
std::vector<Seen> decode(const std::vector<std::string>& pieces, bool pauses = false)
{
    KeyDecoder d;
    resetKeys(d);
    std::vector<Seen> seen;
    KeyEvent e;
    for (const std::string& piece : pieces) {
        for (unsigned char byte : piece)
            if (feedKey(d, byte, &e))
                seen.push_back({e.key, e.action});
        if (pauses && pauseKeys(d, &e))
            seen.push_back({e.key, e.action});
    }
    return seen;
}

std::vector<Seen> decode(const std::string& bytes)
{
    return decode(std::vector<std::string>{bytes});
}

const Seen leftPress{keyLeft, keyPress};

} // namespace

TEST(Keys, ArrowsInBothCursorKeyModes)
{
    EXPECT_EQ(decode("\033[A\033[B\033[C\033[D"),
              (std::vector<Seen>{
                  {keyUp, keyPress}, {keyDown, keyPress}, {keyRight, keyPress}, leftPress}));
    EXPECT_EQ(decode("\033OA\033OD"), (std::vector<Seen>{{keyUp, keyPress}, leftPress}));
}

TEST(Keys, ProtocolEventsWithAndWithoutModifiers)
{
    struct Case {
        const char* bytes;
        Seen expected;
    } cases[] = {
        {"\033[1;1:1D", {keyLeft, keyPress}},
        {"\033[1;1:2D", {keyLeft, keyRepeat}},
        {"\033[1;1:3D", {keyLeft, keyRelease}},
        {"\033[1;5D", {keyLeft, keyPress}},      // Ctrl held: still the arrow
        {"\033[1;2:3C", {keyRight, keyRelease}}, // Shift held
        {"\033[27u", {keyEscape, keyPress}},
        {"\033[27;1:2u", {keyEscape, keyRepeat}},
        {"\033[27;1:3u", {keyEscape, keyRelease}},
        {"\033[13u", {keyEnter, keyPress}},
        {"\033[99;5u", {keyInterrupt, keyPress}}, // Ctrl-C as an escape code
        {"\033[122;5u", {keySuspend, keyPress}},
        {"\033[92;5u", {keyQuit, keyPress}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decode(c.bytes), std::vector<Seen>{c.expected}) << c.bytes + 1;
    // A plain c or z is no chord, and a chord's release does nothing.
    EXPECT_TRUE(decode("\033[99u\033[122;1u\033[99;5:3u").empty());
}

TEST(Keys, RepliesToTheProtocolQuery)
{
    KeyDecoder d;
    resetKeys(d);
    KeyEvent e{};
    int events = 0;
    for (unsigned char byte : std::string("\033[?3u"))
        events += feedKey(d, byte, &e);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(e.key, replyProtocolFlags);
    EXPECT_EQ(e.value, 3);
    EXPECT_EQ(decode("\033[?62;22c"), (std::vector<Seen>{{replyDeviceAttributes, keyPress}}));
}

TEST(Keys, ALoneEscapeIsTheEscapeKeyOnlyWhenInputPauses)
{
    EXPECT_TRUE(decode("\033").empty());
    EXPECT_EQ(decode({"\033"}, true), (std::vector<Seen>{{keyEscape, keyPress}}));
    // Escape pressed twice in a row: the first stands alone at once.
    EXPECT_EQ(decode({"\033\033"}, true),
              (std::vector<Seen>{{keyEscape, keyPress}, {keyEscape, keyPress}}));
    // A pause inside a longer sequence changes nothing.
    EXPECT_EQ(decode({"\033[1;1", ":3D"}, true), (std::vector<Seen>{{keyLeft, keyRelease}}));
}

TEST(Keys, SequencesCutAnywhereAcrossReads)
{
    const std::string all = "\033[1;1:3Dx\033OC\r\033[27u";
    const std::vector<Seen> whole = decode(all);
    ASSERT_EQ(whole.size(), 4u);
    for (size_t cut = 1; cut < all.size(); ++cut)
        EXPECT_EQ(decode({all.substr(0, cut), all.substr(cut)}), whole) << "cut at " << cut;
}

TEST(Keys, ForeignBytesAndUnknownSequencesAreSwallowed)
{
    EXPECT_EQ(decode("ab\033[2~q\033[200~paste\033[201~\033xy\033[?1049h\033[>1;2m\033[D"),
              std::vector<Seen>{leftPress});
    EXPECT_EQ(decode("\033[5D\033[1;1:9D"),
              (std::vector<Seen>{{keyLeft, keyPress}}) /* bad event type: a press */);
    // A sequence cut short by a new one does not swallow it.
    EXPECT_EQ(decode("\033[12\033[D\033O\033[C"),
              (std::vector<Seen>{leftPress, {keyRight, keyPress}}));
    // Enter in either form; UTF-8 and stray controls pass by.
    EXPECT_EQ(decode("\xc3\xa9\x01\r\n"),
              (std::vector<Seen>{{keyEnter, keyPress}, {keyEnter, keyPress}}));
}

TEST(Keys, OverlongSequencesAreDroppedWholeAndNumbersCannotOverflow)
{
    // Each overlong sequence ends in an arrow's final byte, and its first or
    // its last bytes alone would read as one; the Right after it still counts.
    for (const std::string& params :
         {std::string(500, '1'), "1;1:3" + std::string(40, ';'), std::string(40, ';') + "1;1:3"})
        EXPECT_EQ(decode("\033[" + params + "D\033[C"), (std::vector<Seen>{{keyRight, keyPress}}))
            << params.substr(0, 8) << "... (" << params.size() << " bytes)";
    EXPECT_EQ(decode("\033[1;99999999999999999999:3D"), (std::vector<Seen>{{keyLeft, keyRelease}}));
}

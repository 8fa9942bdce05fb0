// Terminal bytes to key events: legacy and protocol forms, cut anywhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text/keys.h"
#include "platform/text/line.h"

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

// Feeds the bytes in the given pieces, with a silence after each piece when
// asked; returns every event but typed characters, which only the prompt's
// line reads.
std::vector<Seen> decode(const std::vector<std::string>& pieces, bool silences = false)
{
    KeyDecoder d;
    resetKeys(d);
    std::vector<Seen> seen;
    KeyEvent e;
    for (const std::string& piece : pieces) {
        for (unsigned char byte : piece)
            if (feedKey(d, byte, &e) && e.key != keyChar)
                seen.push_back({e.key, e.action});
        if (silences && settleKeys(d, &e))
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

TEST(Keys, OnlyARealCtrlMakesTheSignalKeysWhateverElseIsHeld)
{
    // The field is 1 plus the bits held: Shift 1, Alt 2, Ctrl 4, Super 8, with
    // Caps Lock 64 and Num Lock 128 beside them.
    constexpr int ctrlBit = 4;
    for (int locks : {0, 64, 128, 192}) {
        for (int bits = 0; bits < 16; ++bits) {
            const std::string field = std::to_string(1 + (bits | locks));
            const auto chord = [&](int key) {
                return (bits & ctrlBit) != 0 ? std::vector<Seen>{{key, keyPress}}
                                             : std::vector<Seen>{};
            };
            SCOPED_TRACE("modifier field " + field);
            EXPECT_EQ(decode("\033[99;" + field + "u"), chord(keyInterrupt));
            EXPECT_EQ(decode("\033[122;" + field + "u"), chord(keySuspend));
            EXPECT_EQ(decode("\033[92;" + field + "u"), chord(keyQuit));
            EXPECT_TRUE(decode("\033[97;" + field + "u").empty()); // a: never a chord
            EXPECT_EQ(decode("\033[1;" + field + "D"), std::vector<Seen>{leftPress});
        }
    }
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

TEST(Keys, ALoneEscapeIsTheEscapeKeyOnlyWhenInputFallsSilent)
{
    EXPECT_TRUE(decode("\033").empty());
    EXPECT_EQ(decode({"\033"}, true), (std::vector<Seen>{{keyEscape, keyPress}}));
    // Escape pressed twice in a row: the first stands alone at once.
    EXPECT_EQ(decode({"\033\033"}, true),
              (std::vector<Seen>{{keyEscape, keyPress}, {keyEscape, keyPress}}));
}

TEST(Keys, AnUnfinishedSequenceEndsAtASilenceAndItsControlsActAsThemselves)
{
    const Seen enter{keyEnter, keyPress};
    struct Case {
        std::vector<std::string> pieces;
        std::vector<Seen> expected;
    } cases[] = {
        // A silence ends a sequence however it began; what follows is typing.
        {{"\033[1;1", ":3D"}, {}},
        {{"\033[", "D"}, {}},
        {{"\033O", "D"}, {}},
        {{"\033[", "\033[D"}, {leftPress}},
        // A control inside a sequence is carried out, and the sequence goes on.
        {{"\033[\r\r\r"}, {enter, enter, enter}},
        {{"\033[1;\rD"}, {enter, leftPress}},
        {{"\033O\nA"}, {enter, {keyUp, keyPress}}},
        {{"\033\r"}, {enter}}, // Alt-Enter is Enter, and no Escape
    };
    for (const Case& c : cases)
        EXPECT_EQ(decode(c.pieces, true), c.expected) << c.pieces[0].substr(1);
    KeyDecoder d;
    resetKeys(d);
    KeyEvent e;
    for (unsigned char byte : std::string("\033[1;\x7f"))
        feedKey(d, byte, &e);
    EXPECT_EQ(e.key, keyChar); // Backspace inside a sequence is Backspace
    EXPECT_EQ(e.value, 0x7F);
    EXPECT_TRUE(keysPending(d));
    settleKeys(d, &e);
    EXPECT_FALSE(keysPending(d));
}

TEST(PromptLine, EditsAsTheTerminalsLineInput)
{
    const LineKeys keys{0x7F, 0x15 /* Ctrl-U */, 0x04 /* Ctrl-D */};
    struct Case {
        const char* typed;
        int maxColumns;
        const char* echo;
        LineResult result;
        const char* text;
    } cases[] = {
        {"abc\r", 10, "abc", lineEntered, "abc"},
        {"abc\x7f\bd\n", 10, "abc\b \b\b \bd", lineEntered, "ad"},
        {"\x7f\r", 10, "", lineEntered, ""},
        {"ab\x15", 10, "ab\b \b\b \b", lineOpen, ""},
        {"\x04", 10, "", lineEndOfInput, ""},
        {"a\x04", 10, "a", lineEntered, "a"},
        {"abc", 2, "ab", lineOpen, "ab"},
        {"\xc3\xa9\x7f", 10, "\xc3\xa9\b \b", lineOpen, ""},
        {"\xc3\xa9\xc3\xa9x", 1, "\xc3\xa9", lineOpen, "\xc3\xa9"},
        // Keys and controls that are no text leave the line alone.
        {"\033[Ax\ty\033[13;1:3u", 10, "xy", lineOpen, "xy"},
        {"\033[\r", 10, "", lineEntered, ""},
        // Nor do C1 controls, raw or in UTF-8, or bytes that begin no whole character.
        {"a\x9b"
         "1J\xc2\x9b"
         "2J\xc2\x85\xc3"
         "b\xe2\x80\xa2",
         10, "a1J2Jb\xe2\x80\xa2", lineOpen, "a1J2Jb\xe2\x80\xa2"},
    };
    for (const Case& c : cases) {
        KeyDecoder d;
        resetKeys(d);
        PromptLine line;
        startLine(line, keys, c.maxColumns);
        std::string echo;
        LineResult result = lineOpen;
        for (const char* p = c.typed; *p != '\0' && result == lineOpen; ++p) {
            KeyEvent e;
            char out[lineEchoMax];
            if (feedKey(d, static_cast<unsigned char>(*p), &e)) {
                result = editLine(line, e, out);
                echo += out;
            }
        }
        EXPECT_EQ(echo, c.echo) << c.typed;
        EXPECT_EQ(result, c.result) << c.typed;
        EXPECT_EQ(std::string(line.text, static_cast<size_t>(line.length)), c.text) << c.typed;
    }
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

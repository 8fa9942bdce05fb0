// The terminal's screen update on a terminal of the test's own making: its
// strings are readable tags and cursor moves show as <row,column>, so a
// frame's bytes can be compared whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/text/screen.h"

namespace {

std::string sent; // every byte handed to the terminal
int writes = 0;   // and in how many writes

ScreenStrings tagged(bool utf8, bool clear = true)
{
    ScreenStrings t;
    t.clearAll = clear ? "<clear>" : nullptr;
    t.hideCursor = "<civis>";
    t.showCursor = "<cnorm>";
    t.reverse = "<rev>";
    t.plain = "<sgr0>";
    t.altOn = "<smacs>";
    t.altOff = "<rmacs>";
    t.checkerboard = 'a';
    t.utf8 = utf8;
    return t;
}

// A screen of rows x columns, taken over and drawn, with nothing yet sent.
void start(const ScreenStrings& t, int rows = 24, int columns = 80)
{
    screenStart(t);
    screenResize(rows, columns);
    screenEnter();
    screenRepaint();
    screenFlush();
    sent.clear();
    writes = 0;
}

std::string frame()
{
    screenUpdate();
    screenFlush();
    return sent;
}

void put(int x, int y, const char* text)
{
    screenSetCursor(x, y);
    screenPutText(text);
}

} // namespace

void putCapability(const char* s) { screenWrite(s); }
void putCursorMove(int row, int column)
{
    char move[24];
    std::snprintf(move, sizeof move, "<%d,%d>", row, column);
    screenWrite(move);
}
void sendFrame(const char* bytes, std::size_t length)
{
    sent.append(bytes, length);
    ++writes;
}

TEST(ScreenUpdate, SendsOnlyWhatChangedWithOneMovePerRun)
{
    struct Put {
        int x, y;
        const char* text;
    };
    struct Case {
        const char* what;
        std::vector<Put> puts;
        const char* bytes;
    } cases[] = {
        {"nothing written", {}, ""},
        {"a blank over a blank", {{3, 2, " "}}, ""},
        {"one cell", {{3, 2, "A"}}, "<2,3>A"},
        {"a run", {{5, 1, "abc"}}, "<1,5>abc"},
        {"two runs on a row", {{1, 1, "a"}, {4, 1, "b"}}, "<1,1>a<1,4>b"},
        {"rows in turn", {{0, 1, "ab\nc"}}, "<1,0>ab<2,0>c"},
        {"the right edge, then the next row", {{78, 0, "xy"}, {0, 1, "z"}}, "<0,78>xy<1,0>z"},
        {"beyond the terminal's edge", {{100, 3, "x"}, {0, 30, "y"}}, ""},
        {"the bottom-right cell", {{79, 23, "z"}}, ""},
        {"written and put back", {{2, 2, "q"}, {2, 2, " "}}, ""},
    };
    for (const auto& c : cases) {
        start(tagged(true));
        for (const Put& p : c.puts)
            put(p.x, p.y, p.text);
        EXPECT_EQ(frame(), c.bytes) << c.what;
        EXPECT_EQ(writes, *c.bytes != '\0' ? 1 : 0) << c.what;
        sent.clear();
        EXPECT_EQ(frame(), "") << c.what << ": the next frame repeats nothing";
    }
}

TEST(ScreenUpdate, GlyphsAndFallbacks)
{
    ScreenStrings bare = tagged(false);
    bare.reverse = bare.altOn = bare.altOff = nullptr;
    bare.checkerboard = '#';
    struct Case {
        ScreenStrings strings;
        int code;
        const char* bytes;
    } cases[] = {
        {tagged(true), codeDarkShade, "<0,0>\xe2\x96\x93"},
        {tagged(true), codeFullBlock, "<0,0>\xe2\x96\x88"},
        {tagged(false), codeDarkShade, "<0,0><smacs>a<rmacs>"},
        {tagged(false), codeFullBlock, "<0,0><rev> <sgr0>"},
        {bare, codeDarkShade, "<0,0>#"},
        {bare, codeFullBlock, "<0,0>#"},
        {tagged(true), 0, "<0,0> "},
        {tagged(true), 200, "<0,0>?"},
        {tagged(true), '~', "<0,0>~"},
    };
    for (const auto& c : cases) {
        start(c.strings);
        screenSetCursor(0, 0);
        screenPutCode(c.code);
        EXPECT_EQ(frame(), c.bytes) << "code " << c.code << (c.strings.utf8 ? " utf8" : "");
    }
}

TEST(ScreenUpdate, BottomRightCellOnlyWhereItCannotScroll)
{
    for (bool safe : {false, true}) {
        ScreenStrings strings = tagged(true);
        strings.lastCellSafe = safe;
        start(strings);
        put(78, 23, "yz");
        EXPECT_EQ(frame(), safe ? "<23,78>yz" : "<23,78>y") << safe;
    }
}

TEST(ScreenUpdate, ReadBackIsWhatWasWritten)
{
    start(tagged(true));
    for (int code : {0, 32, 65, codeDarkShade, codeFullBlock, 255}) {
        screenSetCursor(7, 3);
        screenPutCode(code);
        int back = -1;
        ASSERT_TRUE(screenReadCode(7, 3, &back));
        EXPECT_EQ(back, code);
    }
    int back = -1;
    EXPECT_FALSE(screenReadCode(-1, 0, &back));
    EXPECT_FALSE(screenReadCode(0, 10000, &back));
    screenSetCursor(-1, 0); // ignored: the next cell lands where the cursor was
    screenPutCode('k');
    ASSERT_TRUE(screenReadCode(8, 3, &back));
    EXPECT_EQ(back, 'k');
}

TEST(ScreenUpdate, RepaintShowsWhatDidNotFit)
{
    // Written beyond a narrow terminal's edge, shown once it is wider.
    start(tagged(true), 24, 20);
    put(30, 0, "x");
    EXPECT_EQ(frame(), "");
    screenResize(24, 40);
    screenRepaint();
    EXPECT_EQ(frame(), "<clear><0,30>x");

    // Without a way to clear, nothing on the terminal is taken for blank.
    start(tagged(true, false), 2, 3);
    screenRepaint();
    EXPECT_EQ(frame(), "<0,0>   <1,0>  ");

    // Over a line alone nothing is written, neither the game's cells nor an
    // echo, until the repaint draws them all.
    start(tagged(true), 24, 25);
    put(1, 19, "9");
    screenShowAlone("needs");
    put(2, 19, "8");
    screenEcho("abc");
    EXPECT_EQ(frame(), "<clear><0,0>needs");
    sent.clear();
    screenRepaint();
    EXPECT_EQ(frame(), "<clear><19,1>98");
}

TEST(ScreenUpdate, ShownCursorEndsWhereTheGameLeftIt)
{
    start(tagged(true));
    screenShowCursor();
    put(4, 2, "x");
    EXPECT_EQ(frame(), "<cnorm><2,4>x");
    sent.clear();
    screenSetCursor(0, 20);
    EXPECT_EQ(frame(), "<20,0>");
}

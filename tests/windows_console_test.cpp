// The console primitives on a real Windows console (wine's, in the test
// run): what is written is read back as the same code, on any code page.
#include <gtest/gtest.h>

#include <windows.h>

#include "console/console.h"
#include "platform/platform.h"

namespace {

class Console : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_EQ(platformOpen(screenColumnsNeeded, screenRowsNeeded), 1)
            << "standard output is not a console";
    }
    void TearDown() override { platformClose(); }
};

} // namespace

TEST_F(Console, CellsReadBackAsTheCodesWritten)
{
    gotoxy(3, 2);
    putCode(blockCell);
    putCode(wallCell);
    putCode('x');
    gotoxy(5, 2);
    putCode(emptyCell);
    putCode(0); // the row below the floor: blank, as a space
    EXPECT_EQ(charAt(3, 2), blockCell);
    EXPECT_EQ(charAt(4, 2), wallCell);
    EXPECT_EQ(charAt(5, 2), emptyCell);
    EXPECT_EQ(charAt(6, 2), emptyCell);
}

TEST_F(Console, TheBlockGlyphsSurviveAUtf8CodePage)
{
    const UINT before = GetConsoleOutputCP();
    if (!SetConsoleOutputCP(CP_UTF8))
        GTEST_SKIP() << "this console keeps its code page";
    gotoxy(6, 3);
    putCode(blockCell);
    putCode(wallCell);
    EXPECT_EQ(charAt(6, 3), blockCell);
    EXPECT_EQ(charAt(7, 3), wallCell);
    SetConsoleOutputCP(before);
}

TEST_F(Console, ANewlineGoesToColumnZeroOfTheNextRowAndErasesNothing)
{
    gotoxy(0, 5);
    printText("qrstuvwxyz");
    gotoxy(10, 4);
    printText("ab\ncd");
    EXPECT_EQ(charAt(10, 4), 'a');
    EXPECT_EQ(charAt(11, 4), 'b');
    EXPECT_EQ(charAt(0, 5), 'c');
    EXPECT_EQ(charAt(1, 5), 'd');
    EXPECT_EQ(charAt(2, 5), 's');
}

TEST_F(Console, TheBoardIsDrawnAndReadBackWhole)
{
    Player p{};
    for (int r = 0; r < mapHeight; ++r)
        for (int c = 0; c < mapWidth; ++c)
            p.table[r][c] = masterTable[r][c];
    p.ox = 30;
    p.oy = 1;
    drawTable(p);
    for (int r = 0; r < mapHeight - 1; ++r)
        for (int c = 0; c < mapWidth; ++c)
            ASSERT_EQ(charAt(static_cast<short>(30 + c), static_cast<short>(1 + r)),
                      masterTable[r][c])
                << r << "," << c;
}

TEST_F(Console, KeysTypedDuringPlayDoNotOutliveThePrompt)
{
    // As a player leaves them: an Enter typed during play, which answers the
    // prompt, and an Up after it, which the shell would take as a recall.
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    ASSERT_TRUE(FlushConsoleInputBuffer(input));
    INPUT_RECORD keys[4] = {};
    const WORD codes[4] = {VK_RETURN, VK_RETURN, VK_UP, VK_UP};
    for (int i = 0; i < 4; ++i) {
        keys[i].EventType = KEY_EVENT;
        keys[i].Event.KeyEvent.bKeyDown = i % 2 == 0;
        keys[i].Event.KeyEvent.wRepeatCount = 1;
        keys[i].Event.KeyEvent.wVirtualKeyCode = codes[i];
        keys[i].Event.KeyEvent.uChar.UnicodeChar = codes[i] == VK_RETURN ? L'\r' : 0;
    }
    DWORD count = 0;
    ASSERT_TRUE(WriteConsoleInputW(input, keys, 4, &count));
    ASSERT_EQ(count, 4u);
    waitForEnter();
    ASSERT_TRUE(GetNumberOfConsoleInputEvents(input, &count));
    EXPECT_EQ(count, 0u) << "left for the next program";
}

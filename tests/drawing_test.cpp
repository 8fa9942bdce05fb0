// Board, piece and panel against the memory console: what is written,
// where, and what is left alone.
#include <gtest/gtest.h>

#include <cstring>

#include "console/console.h"
#include "platform/memory/memory.h"
#include "support.h"

namespace {

// The screen of the memory console, for comparing before and after.
std::vector<unsigned char> screenNow()
{
    const auto* first = &mem.screen[0][0];
    return {first, first + sizeof mem.screen};
}

void expectBoardShown(const Player& p)
{
    for (int r = 0; r < mapHeight; ++r)
        for (int c = 0; c < mapWidth; ++c)
            ASSERT_EQ(memCode(p.ox + c, p.oy + r), p.table[r][c])
                << "row " << r << ", column " << c;
}

} // namespace

// ---- Console primitives ------------------------------------------------

TEST(Primitives, ReadBackReturnsTheCodeWrittenAndASpaceWhenUnreadable)
{
    memReset();
    gotoxy(4, 3);
    putCode(blockCell);
    putCode(wallCell);
    EXPECT_EQ(charAt(4, 3), blockCell);
    EXPECT_EQ(charAt(5, 3), wallCell);
    mem.readFails = true;
    EXPECT_EQ(charAt(4, 3), emptyCell);
}

TEST(Primitives, AFailedScreenQueryIsReportedWhereTheCursorStandsAndTheReadGoesOn)
{
    memReset();
    gotoxy(2, 22);
    putCode(blockCell);
    gotoxy(0, 23);
    mem.screenError = 6;
    EXPECT_EQ(charAt(2, 22), blockCell);
    EXPECT_EQ(memText(0, 23, 30), "GetConsoleScreenBufferInfo (6)");
    EXPECT_EQ(mem.cx, 0); // the message ends with a newline
    EXPECT_EQ(mem.cy, 24);
}

TEST(Primitives, CursorPositionsAreCutToSixteenBits)
{
    memReset();
    gotoxy(65536 + 7, 65536 * 3 + 2);
    EXPECT_EQ(mem.cx, 7);
    EXPECT_EQ(mem.cy, 2);
}

TEST(Primitives, ANewlineMovesToTheNextRowAndErasesNothing)
{
    memReset();
    gotoxy(0, 5);
    printText("abcdef");
    gotoxy(2, 4);
    printText("x\ny");
    EXPECT_EQ(memText(0, 5, 6), "ybcdef");
    EXPECT_EQ(memText(2, 4, 1), "x");
}

// ---- The board ---------------------------------------------------------

TEST(Board, FirstDrawWritesExactlyTheCellsThatAreNotBlank)
{
    memReset();
    Player p = pieceAt(0, 2, -3);
    drawTable(p);
    // Walls on rows 0-12 (26), the floor (20) and the zeros below it (20).
    EXPECT_EQ(mem.cellsWritten, 66);
    expectBoardShown(p);
}

TEST(Board, ARedrawOfAMatchingScreenWritesNothing)
{
    memReset();
    Player p = pieceAt(0, 2, -3);
    drawTable(p);
    const long written = mem.cellsWritten;
    drawTable(p);
    EXPECT_EQ(mem.cellsWritten, written);
    EXPECT_EQ(mem.cellsRead, 2L * mapWidth * mapHeight);
}

TEST(Board, TheWellIsDrawnOverOldTextAndTextBesideItStays)
{
    memReset();
    std::memset(mem.screen, 'a', sizeof mem.screen);
    Player p = pieceAt(0, 2, -3);
    p.ox = 3;
    p.oy = 2;
    drawTable(p);
    expectBoardShown(p);
    EXPECT_EQ(memCode(2, 2), 'a');
    EXPECT_EQ(memCode(23, 2), 'a');
    EXPECT_EQ(memCode(3, 1), 'a');
    EXPECT_EQ(memCode(3, 17), 'a');
}

TEST(Board, UnreadableCellsAreAllRewritten)
{
    memReset();
    Player p = pieceAt(0, 2, -3);
    drawTable(p);
    mem.readFails = true;
    const long written = mem.cellsWritten;
    drawTable(p);
    EXPECT_EQ(mem.cellsWritten - written, 66); // every cell that is not a space
}

// ---- The falling piece -------------------------------------------------

TEST(Piece, OnlyOnBoardCellsAreDrawnAndTheCursorGoesHome)
{
    memReset();
    Player p = pieceAt(1, 4, -2); // bar in column 6, rows -2 to 1
    drawTable(p);
    const auto before = screenNow();
    drawBlock(p);
    EXPECT_EQ(memCode(6, 0), blockCell);
    EXPECT_EQ(memCode(6, 1), blockCell);
    EXPECT_EQ(mem.cx, 0);
    EXPECT_EQ(mem.cy, 0);
    // Nothing else changed: the rows above the board are not on the screen.
    auto after = screenNow();
    after[0 * MemoryConsole::width + 6] = before[0 * MemoryConsole::width + 6];
    after[1 * MemoryConsole::width + 6] = before[1 * MemoryConsole::width + 6];
    EXPECT_EQ(after, before);
}

TEST(Piece, GridColumnsPastEitherSideAreNotDrawn)
{
    memReset();
    Player left = pieceAt(3, -2, 4); // T with cells in columns -1, 0 and 1
    const auto before = screenNow();
    drawBlock(left);
    EXPECT_EQ(memCode(0, 6), blockCell);
    EXPECT_EQ(memCode(1, 6), blockCell);
    EXPECT_EQ(memCode(0, 5), blockCell);
    EXPECT_EQ(mem.cellsWritten, 3);
    deleteBlock(left);
    EXPECT_EQ(screenNow(), before);

    Player right = pieceAt(3, 17, 4); // columns 18, 19 and 20
    drawBlock(right);
    EXPECT_EQ(memCode(19, 6), blockCell);
    EXPECT_EQ(memCode(20, 6), ' ');
    EXPECT_EQ(memCode(0, 7), ' '); // no wrap onto the next row
}

TEST(Piece, EraseThenDrawLeavesTheScreenAsItWas)
{
    memReset();
    for (int kind = 0; kind < 4; ++kind) {
        Player p = pieceAt(kind, 6, 3);
        drawTable(p);
        drawBlock(p);
        const auto shown = screenNow();
        deleteBlock(p);
        EXPECT_EQ(memCode(8, 5), ' ') << "kind " << kind; // every kind has a cell at grid (2, 2)
        drawBlock(p);
        EXPECT_EQ(screenNow(), shown) << "kind " << kind;
    }
}

TEST(Piece, EraseBlanksALandedCellTheBoardStillHolds)
{
    memReset();
    Player p = pieceAt(0, 5, 5); // square on rows 6-7, columns 7-8
    p.table[7][7] = blockCell;
    drawTable(p);
    drawBlock(p);
    deleteBlock(p);
    EXPECT_EQ(memCode(7, 7), ' ');
    EXPECT_EQ(p.table[7][7], blockCell);
    drawTable(p);
    EXPECT_EQ(memCode(7, 7), blockCell);
}

// ---- The panel ---------------------------------------------------------

TEST(Panel, ScoreLabelAndPreviewAtTheirPlaces)
{
    memReset();
    Player p = pieceAt(2, 2, -3);
    p.nb = 3;
    p.score = 1234;
    drawWorld(p);
    EXPECT_EQ(memText(0, scoreRow, 11), "Score: 1234");
    EXPECT_EQ(memText(panelColumn, 0, 5), "Next:");
    EXPECT_EQ(memRow(1), std::string(80, ' ')); // the label's newline erased nothing
    for (int j = 0; j < blockHeight; ++j)
        for (int i = 0; i < blockWidth; ++i)
            EXPECT_EQ(memCode(panelColumn + i, previewRow + j), block4[j][i]) << j << "," << i;
    EXPECT_EQ(mem.cx, 0);
    EXPECT_EQ(mem.cy, scoreRow);
}

TEST(Panel, APreviewWhollyReplacesTheOneBefore)
{
    memReset();
    Player p = pieceAt(0, 2, -3);
    p.nb = 1;
    drawWorld(p);
    p.nb = 0;
    drawWorld(p);
    EXPECT_EQ(memText(panelColumn, previewRow, 5), "     ");
    EXPECT_EQ(memText(panelColumn, previewRow + 1, 5), "  XX ");
    EXPECT_EQ(memText(panelColumn, previewRow + 2, 5), "  XX ");
    EXPECT_EQ(memText(panelColumn, previewRow + 3, 5), "     ");
    EXPECT_EQ(memText(panelColumn, previewRow + 4, 5), "     ");
}

TEST(Panel, ThePreviewFollowsTheBoardOriginButTheTextsDoNot)
{
    memReset();
    Player p = pieceAt(0, 2, -3);
    p.nb = 1;
    p.ox = 2;
    p.oy = 1;
    drawWorld(p);
    EXPECT_EQ(memText(0, scoreRow, 8), "Score: 0");
    EXPECT_EQ(memText(panelColumn, 0, 5), "Next:");
    // The template's cells (0, 2) and (3, 2), moved by the origin.
    EXPECT_EQ(memCode(panelColumn + p.ox + 2, previewRow + p.oy), blockCell);
    EXPECT_EQ(memCode(panelColumn + p.ox + 2, previewRow + p.oy + 3), blockCell);
}

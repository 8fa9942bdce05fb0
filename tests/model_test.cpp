// The rules on hand-built boards.
#include <gtest/gtest.h>

#include <cstring>

#include "model/player.h"
#include "model/random.h"
#include "platform/memory/memory.h"
#include "support.h"

namespace {

bool sameGrid(const int (&a)[blockHeight][blockWidth], const int (&b)[blockHeight][blockWidth])
{
    return std::memcmp(a, b, sizeof a) == 0;
}

void land(Player& p, int row, int column) { p.table[row][column] = blockCell; }

void fillRow(Player& p, int row)
{
    for (int c = 1; c <= 18; ++c)
        land(p, row, c);
}

} // namespace

// ---- Spawning ----------------------------------------------------------

TEST(Spawning, FreshGameIsTheEmptyWellWithARandomPieceAtTheSpawnPoint)
{
    memReset();
    seedRandom(7);
    Player p;
    std::memset(&p, 0x5A, sizeof p); // whatever was there before
    initPlayer(p, 3, 4);
    EXPECT_EQ(p.score, 0);
    EXPECT_EQ(p.bx, 2);
    EXPECT_EQ(p.by, -3);
    EXPECT_EQ(p.ox, 3);
    EXPECT_EQ(p.oy, 4);
    EXPECT_EQ(std::memcmp(p.table, masterTable, sizeof p.table), 0);
    for (int c = 0; c < mapWidth; ++c)
        EXPECT_EQ(p.table[14][c], 0);
    ASSERT_GE(p.bt, 0);
    ASSERT_LE(p.bt, 3);
    ASSERT_GE(p.nb, 0);
    ASSERT_LE(p.nb, 3);
    EXPECT_TRUE(sameGrid(p.block, blockTemplate(p.bt)));
    // Exactly two values are drawn: the first piece, then the first preview.
    const std::vector<int> kinds = dealtKinds(7, 3);
    EXPECT_EQ(p.bt, kinds[0]);
    EXPECT_EQ(p.nb, kinds[1]);
}

TEST(Spawning, NewBlockPromotesThePreviewAndResetsPositionAndShape)
{
    seedRandom(11);
    Player p = pieceAt(3, 9, 7);
    rotateBlock(p);
    p.nb = 1;
    newBlock(p);
    EXPECT_EQ(p.bt, 1);
    EXPECT_EQ(p.bx, 2);
    EXPECT_EQ(p.by, -3);
    EXPECT_TRUE(sameGrid(p.block, block2));
    EXPECT_EQ(p.nb, dealtKinds(11, 1)[0]);
}

TEST(Spawning, TheSameSeedDealsTheSameKindsAndAllKindsCome)
{
    // The kinds a game deals: the first piece, then each piece newBlock
    // brings in. The simulations pick their start seconds by dealtKinds.
    auto played = [](unsigned seed, int count) {
        seedRandom(seed);
        Player p;
        initPlayer(p, 0, 0);
        std::vector<int> kinds{p.bt};
        while (static_cast<int>(kinds.size()) < count) {
            newBlock(p);
            kinds.push_back(p.bt);
        }
        return kinds;
    };
    const std::vector<int> first = played(12345, 200);
    EXPECT_EQ(played(12345, 200), first);
    EXPECT_EQ(dealtKinds(12345, 200), first);
    EXPECT_NE(played(12346, 200), first);
    int seen[4] = {};
    for (int k : played(99, 400))
        ++seen[k];
    for (int k = 0; k < 4; ++k)
        EXPECT_GT(seen[k], 60) << "kind " << k;
}

TEST(Spawning, OnlyTheBarReachesTheBoardAtSpawn)
{
    // A landed cell under the spawn column on row 1 stops the bar at once;
    // every other kind starts with its lowest cells on row -1, over row 0.
    for (int kind = 0; kind < 4; ++kind) {
        Player p = pieceAt(kind, 2, -3);
        land(p, 1, 4);
        EXPECT_EQ(collided(p), kind == 1 ? 1 : 0) << "kind " << kind;
    }
}

// ---- The resting test and the wall test --------------------------------

TEST(PositionTests, EachKindRestsOnTheFloorAndNotOneRowHigher)
{
    struct Case {
        int kind;
        int lowestGridRow;
    } cases[] = {{0, 2}, {1, 3}, {2, 2}, {3, 2}};
    for (const Case& k : cases) {
        const int restingBy = 12 - k.lowestGridRow;
        Player p = pieceAt(k.kind, 5, restingBy);
        EXPECT_EQ(collided(p), 1) << "kind " << k.kind;
        p.by = restingBy - 1;
        EXPECT_EQ(collided(p), 0) << "kind " << k.kind;
    }
}

TEST(PositionTests, ALandedCellCountsOnlyDirectlyBelowAPieceCell)
{
    Player p = pieceAt(0, 5, 5); // square on rows 6-7, columns 7-8
    land(p, 9, 7);
    EXPECT_EQ(collided(p), 0); // two rows below: not resting
    land(p, 8, 8);
    EXPECT_EQ(collided(p), 1);
}

TEST(PositionTests, CoveringALandedCellWithRoomBelowIsAllowed)
{
    // Neither test looks at the cells the piece itself covers.
    Player p = pieceAt(3, 5, 5); // T: (6, 7) over (7, 6) (7, 7) (7, 8)
    land(p, 7, 6);               // under the T's left arm, room below it
    EXPECT_EQ(collided(p), 0);
    EXPECT_EQ(checkWallColl(p), 0);
}

TEST(PositionTests, WallColumnsCountFromRowMinusOneDownAndCellsOffTheBoardAreSkipped)
{
    // The square's cells are in grid columns 2-3, the bar's in grid column 2.
    struct Case {
        int kind, bx, by, wall, resting;
        const char* what;
    };
    const Case cases[] = {
        {0, -1, 5, 0, 0, "square in columns 1-2"},
        {0, -2, 5, 1, 1, "square in columns 0-1: the left wall"},
        {0, 16, 5, 1, 1, "square in columns 18-19: the right wall"},
        {1, -2, -4, 1, 1, "bar in column 0, its lowest cell on row -1"},
        {1, -2, -5, 0, 0, "bar in column 0, its lowest cell on row -2: unseen"},
        {1, -3, 5, 0, 0, "bar in column -1: skipped, not wrapped to the row before"},
        {1, 18, 5, 0, 0, "bar in column 20, past the right wall"},
    };
    for (const Case& c : cases) {
        const Player p = pieceAt(c.kind, c.bx, c.by);
        EXPECT_EQ(checkWallColl(p), c.wall) << c.what;
        EXPECT_EQ(collided(p), c.resting) << c.what;
    }
}

TEST(PositionTests, TheRowBelowTheFloorCountsAsOccupied)
{
    // Never reached in play, but the zeros there are not empty cells.
    Player p = pieceAt(0, 5, 11); // square on rows 12-13
    for (int c = 0; c < mapWidth; ++c)
        p.table[12][c] = p.table[13][c] = emptyCell;
    EXPECT_EQ(collided(p), 1);
}

// ---- Rotation ----------------------------------------------------------

TEST(Rotation, QuarterTurnsClockwiseAboutTheCentre)
{
    struct Case {
        int kind;
        int turns;
        std::set<Cell> cells;
    } cases[] = {
        {3, 1, {{1, 2}, {2, 2}, {2, 3}, {3, 2}}}, // T points right
        {1, 1, {{2, 1}, {2, 2}, {2, 3}, {2, 4}}}, // bar lies in row 2
        {1, 2, {{1, 2}, {2, 2}, {3, 2}, {4, 2}}}, // bar stands one row lower
        {0, 1, {{2, 2}, {2, 3}, {3, 2}, {3, 3}}}, // square moves down a row
        {2, 1, {{2, 2}, {2, 3}, {2, 4}, {3, 2}}}, // L lies with its foot down
    };
    for (const Case& k : cases) {
        Player p = pieceAt(k.kind, 0, 0);
        for (int t = 0; t < k.turns; ++t)
            rotateBlock(p);
        EXPECT_EQ(gridCells(p.block), k.cells) << "kind " << k.kind << ", turns " << k.turns;
    }
}

TEST(Rotation, FourTurnsGiveBackTheGridAndLeaveThePositionAlone)
{
    for (int kind = 0; kind < 4; ++kind) {
        Player p = pieceAt(kind, 4, -2);
        for (int t = 0; t < 4; ++t)
            rotateBlock(p);
        EXPECT_TRUE(sameGrid(p.block, blockTemplate(kind))) << "kind " << kind;
        EXPECT_EQ(p.bx, 4);
        EXPECT_EQ(p.by, -2);
    }
    // An asymmetric grid that uses every cell catches any cell read after
    // it was overwritten.
    Player p{};
    for (int j = 0; j < blockHeight; ++j)
        for (int i = 0; i < blockWidth; ++i)
            p.block[j][i] = j * blockWidth + i;
    rotateBlock(p);
    EXPECT_EQ(p.block[0][0], 20); // bottom-left comes to the top-left
    EXPECT_EQ(p.block[0][4], 0);  // top-left goes to the top-right
    EXPECT_EQ(p.block[4][4], 4);
    EXPECT_EQ(p.block[2][2], 12);
}

// ---- Landing -----------------------------------------------------------

TEST(Landing, OnlyOnBoardCellsAreCopiedAndTheyOverwrite)
{
    Player p = pieceAt(1, 5, -2); // bar on rows -2 to 1 of column 7
    land(p, 1, 7);
    placeBlock(p);
    EXPECT_EQ(p.table[0][7], blockCell);
    EXPECT_EQ(p.table[1][7], blockCell);
    EXPECT_EQ(p.table[2][7], emptyCell);

    Player above = pieceAt(3, 5, -4); // T wholly above the board
    placeBlock(above);
    EXPECT_EQ(std::memcmp(above.table, masterTable, sizeof above.table), 0);

    Player wall = pieceAt(0, -2, 5); // square over the left wall
    placeBlock(wall);
    EXPECT_EQ(wall.table[6][0], blockCell);
    EXPECT_EQ(wall.table[6][1], blockCell);
}

TEST(Clearing, OneFullRowGoesAndEverythingAboveDropsOne)
{
    memReset();
    Player p = pieceAt(0, 0, 0);
    fillRow(p, 12);
    land(p, 11, 3);
    land(p, 5, 9);
    land(p, 0, 4); // row 0 is copied down and keeps its cells
    checkLines(p);
    EXPECT_EQ(p.score, 18);
    EXPECT_EQ(p.table[12][3], blockCell);
    EXPECT_EQ(p.table[12][4], emptyCell);
    EXPECT_EQ(p.table[11][3], emptyCell);
    EXPECT_EQ(p.table[6][9], blockCell);
    EXPECT_EQ(p.table[5][9], emptyCell);
    EXPECT_EQ(p.table[1][4], blockCell);
    EXPECT_EQ(p.table[0][4], blockCell);
    EXPECT_EQ(checkGameOver(p), 1);
    // Walls and floor are never moved.
    for (int r = 0; r <= 12; ++r) {
        EXPECT_EQ(p.table[r][0], wallCell);
        EXPECT_EQ(p.table[r][19], wallCell);
    }
    EXPECT_EQ(std::memcmp(p.table[13], masterTable[13], sizeof p.table[13]), 0);
}

TEST(Clearing, SeveralRowsInOnePassScoreEighteenEach)
{
    // Two full rows together, then apart: the row between them drops by one,
    // the rows above by two. Each landed cell must stand where it dropped to,
    // and its old place must be empty.
    struct Case {
        int full[2];
        Cell landed[2], dropped[2];
    };
    const Case cases[] = {
        {{11, 12}, {{10, 2}, {9, 6}}, {{12, 2}, {11, 6}}},
        {{12, 10}, {{11, 5}, {9, 8}}, {{12, 5}, {11, 8}}},
    };
    for (const Case& c : cases) {
        memReset();
        Player p = pieceAt(0, 0, 0);
        for (int row : c.full)
            fillRow(p, row);
        for (const Cell& cell : c.landed)
            land(p, cell.first, cell.second);
        checkLines(p);
        EXPECT_EQ(p.score, 36) << "full rows " << c.full[0] << ", " << c.full[1];
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(p.table[c.dropped[k].first][c.dropped[k].second], blockCell) << k;
            EXPECT_EQ(p.table[c.landed[k].first][c.landed[k].second], emptyCell) << k;
        }
    }
}

TEST(Clearing, AFullTopRowIsEmptiedAndNothingCopiedIntoIt)
{
    memReset();
    Player p = pieceAt(0, 0, 0);
    fillRow(p, 0);
    land(p, 1, 7);
    checkLines(p);
    EXPECT_EQ(p.score, 18);
    for (int c = 1; c <= 18; ++c)
        EXPECT_EQ(p.table[0][c], emptyCell);
    EXPECT_EQ(p.table[1][7], blockCell);
    EXPECT_EQ(checkGameOver(p), 0);
}

TEST(Clearing, ARowWithAGapStaysAndTheBoardIsRedrawnEveryTime)
{
    // The wall cells are part of the row: a gap there keeps it too.
    for (int gap : {0, 18, 19}) {
        memReset();
        Player p = pieceAt(0, 0, 0);
        fillRow(p, 12);
        p.table[12][gap] = emptyCell;
        checkLines(p);
        EXPECT_EQ(p.score, 0) << "gap in column " << gap;
        EXPECT_EQ(p.table[12][17], blockCell) << "gap in column " << gap;
        // The console now shows the board exactly.
        for (int r = 0; r < mapHeight; ++r)
            for (int c = 0; c < mapWidth; ++c)
                ASSERT_EQ(memCode(c, r), p.table[r][c]) << r << "," << c << ", gap " << gap;
    }
}

TEST(GameOver, AnyLandedCellInTheTopRowAndNothingElse)
{
    Player p = pieceAt(0, 0, 0);
    EXPECT_EQ(checkGameOver(p), 0);
    // The wall columns of row 0 always hold walls and do not count.
    p.table[0][0] = blockCell;
    p.table[0][19] = blockCell;
    EXPECT_EQ(checkGameOver(p), 0);
    fillRow(p, 1);
    EXPECT_EQ(checkGameOver(p), 0);
    land(p, 0, 18);
    EXPECT_EQ(checkGameOver(p), 1);
}

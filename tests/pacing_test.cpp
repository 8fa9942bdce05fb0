// Whole runs of the frame loop on the memory console: start-up, the
// self-tuning pace with its status lines, and the way out; and the clock
// the terminal backend gives the pace.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <map>
#include <string>

#include "game/game.h"
#include "platform/platform.h"
#include "platform/terminal/clock.h"
#include "support.h"

namespace {

constexpr int start = 1700000000;

// Spreads the pieces over the well and lets gravity take them, so that a
// minute of play never ends the game.
std::vector<Move> spreadOut()
{
    std::vector<Move> plan;
    for (int n = 0; n < 40; ++n)
        plan.push_back({0, -3 + 4 * (n % 5), false});
    return plan;
}

// Plays until the wall clock reaches `seconds` past the start.
Game playFor(int seconds, int frameCostMs)
{
    Game g(start, frameCostMs, 20000);
    auto steering = steer(spreadOut());
    g.player = [&, steering](const Shot& s) -> unsigned {
        return s.second >= start + seconds ? keyBit(keyEscape) : steering(s);
    };
    g.run();
    return g;
}

} // namespace

TEST(StartUp, TheWellIsDrawnOverOldTextAndTheFirstFrameFallsAndShowsThePanel)
{
    Game g(start, 0, 0); // Escape on frame 0
    std::memset(mem.screen, 'a', sizeof mem.screen);
    g.run();
    ASSERT_EQ(g.shots.size(), 1u);
    const Shot& s = g.shots[0];
    for (int r = 0; r < mapHeight; ++r) {
        for (int c = 0; c < mapWidth; ++c) {
            const int shown = s.at(r, c);
            if (shown != blockCell) { // the first piece may already show on row 0
                ASSERT_EQ(shown, masterTable[r][c]) << r << "," << c;
            }
        }
    }
    EXPECT_FALSE(s.blocks().empty()); // the first frame is a gravity frame
    EXPECT_EQ(s.text(0, scoreRow, 8), "Score: 0");
    EXPECT_EQ(s.text(panelColumn, 0, 5), "Next:");
    EXPECT_EQ(s.at(1, 30), 'a'); // text beside the board is left alone
    EXPECT_EQ(s.at(22, 0), 'a');
    EXPECT_EQ(s.at(1, 21), 'a');
}

TEST(Exit, EscapeEndsTheLoopAndThePromptFollowsTheSleepLine)
{
    Game g(start, 0);
    memPress(keyEscape, 5);
    g.run();
    EXPECT_EQ(g.status, 0);
    EXPECT_EQ(mem.frame, 6);
    EXPECT_EQ(memText(0, sleepRow + 1, screenColumnsNeeded), promptText);
    EXPECT_EQ(mem.enterWaits, 1);
    EXPECT_EQ(mem.promptX, 26);
    EXPECT_EQ(mem.promptY, sleepRow + 1);
    EXPECT_FALSE(mem.open); // the console was given back
}

TEST(Pacing, SettlesAtTenToTwelveFramesASecondWhateverTheFrameCosts)
{
    for (int cost : {0, 30, 80}) {
        const Game g = playFor(60, cost);
        ASSERT_EQ(g.shots.back().second, start + 60) << "cost " << cost;
        std::map<int, int> perSecond;
        for (const Shot& s : g.shots)
            ++perSecond[s.second];
        for (int sec = start + 20; sec < start + 60; ++sec)
            EXPECT_TRUE(perSecond[sec] >= 10 && perSecond[sec] <= 12)
                << "cost " << cost << ": " << perSecond[sec] << " frames in second " << sec - start;
        const int reported = std::stoi(g.shots.back().text(0, rateRow, 3));
        EXPECT_TRUE(reported >= 10 && reported <= 12) << "cost " << cost << ": " << reported;
    }
}

TEST(Pacing, TheGovernorStartsFastAndRaisesOnSixLowersOnFourOrLess)
{
    const Game g = playFor(25, 30);
    // Follow the frame count of each second as the rate line reports it: the
    // frame that prints the report counts 0, the next 1, and so on. The sleep
    // requested on the next frame shows what the governor did.
    int count = 0;
    int reports = 0;
    int lastSecond = start;
    int seen[3] = {}; // lowered, kept, raised
    for (size_t f = 0; f + 1 < g.shots.size(); ++f) {
        const Shot& s = g.shots[f];
        ++count;
        if (s.second > lastSecond) {
            ASSERT_EQ(std::stoi(s.text(0, rateRow, 3)), count) << "frame " << f;
            ++reports;
            count = 0;
            lastSecond = s.second;
        }
        // Only a frame that slept shows its sleep length; compare two in a row.
        const Shot& next = g.shots[f + 1];
        const bool slept = s.sleeps > (f == 0 ? 0 : g.shots[f - 1].sleeps);
        if (!slept || next.sleeps != s.sleeps + 1)
            continue;
        const int change = next.sleptMs - s.sleptMs;
        const int expected = count > 5 ? 1 : (count == 5 ? 0 : -1);
        ASSERT_EQ(change, expected) << "frame " << f << ", count " << count;
        ++seen[change + 1];
    }
    EXPECT_GE(reports, 24);
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0);
    EXPECT_GT(seen[2], 0);
}

TEST(Pacing, AFrameSlowerThanThePeriodDrivesTheSleepBelowZeroAndStopsSleeping)
{
    const Game g = playFor(30, 300);
    // Only the very first frame sleeps (1 ms); after it the sleep is 0 or less.
    EXPECT_EQ(g.shots.back().sleeps, 1);
    const int last = std::stoi(g.shots.back().text(1, sleepRow, 6));
    EXPECT_LT(last, -90); // three or four frames a second, each lowering it
    EXPECT_EQ(last, -static_cast<int>(g.shots.size()) + 1);
}

#ifdef BLOCKFALL_TERMINAL_CLOCK
// The terminal's game clock is the time of day less every stretch the game
// stood still, so that the governor, after a stop, sees no slow second.
TEST(Pacing, TheTerminalsGameClockIsTheTimeOfDayLessTheTimeItStood)
{
    gameClockStart();
    long stoodSeconds = 0;
    for (const long stood : {0L, 1L, 90L, 3600L}) {
        gameClockStood(stood * 1'000'000'000L);
        stoodSeconds += stood;
        const long clock = gameClockSeconds();
        const long behind = std::time(nullptr) - stoodSeconds - clock; // a second may turn
        EXPECT_TRUE(behind == 0 || behind == 1)
            << stoodSeconds << " stood, " << behind << " behind";
    }
}
#endif

TEST(StatusLines, AShorterNumberLeavesTheOldTailOnScreen)
{
    // With no cost and no sleep the clock stands still, so the count climbs
    // within one second: the sleep goes 1, 0, -1, -2, -3, -3, -2, -1, 0.
    Game g(start, 0, 8);
    g.run();
    EXPECT_EQ(g.shots[3].text(1, sleepRow, 2), "-3");
    EXPECT_EQ(g.shots[6].text(1, sleepRow, 2), "-1");
    EXPECT_EQ(g.shots[7].text(1, sleepRow, 2), "01");
    EXPECT_EQ(g.shots[8].text(1, sleepRow, 2), "11");
}

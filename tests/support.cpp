#include "support.h"

#include <cstring>
#include <memory>

#include "game/game.h"
#include "model/random.h"
#include "platform/platform.h"

Player pieceAt(int kind, int bx, int by)
{
    Player p{};
    std::memcpy(p.table, masterTable, sizeof p.table);
    std::memcpy(p.block, blockTemplate(kind), sizeof p.block);
    p.bt = p.nb = kind;
    p.bx = bx;
    p.by = by;
    return p;
}

std::set<Cell> cellsOf(const int (&grid)[blockHeight][blockWidth], int bx, int by)
{
    std::set<Cell> cells;
    for (auto [j, i] : gridCells(grid))
        cells.insert({by + j, bx + i});
    return cells;
}

std::set<Cell> gridCells(const int (&grid)[blockHeight][blockWidth])
{
    std::set<Cell> cells;
    for (int j = 0; j < blockHeight; ++j)
        for (int i = 0; i < blockWidth; ++i)
            if (grid[j][i] == blockCell)
                cells.insert({j, i});
    return cells;
}

std::vector<int> dealtKinds(int start, int count)
{
    seedRandom(static_cast<unsigned>(start));
    std::vector<int> kinds;
    for (int n = 0; n < count; ++n)
        kinds.push_back(nextRandom() % 4);
    return kinds;
}

int findStart(const std::vector<int>& kinds, int from)
{
    for (int start = from;; ++start) {
        seedRandom(static_cast<unsigned>(start));
        size_t n = 0;
        while (n < kinds.size() && nextRandom() % 4 == kinds[n])
            ++n;
        if (n == kinds.size())
            return start;
    }
}

std::string Shot::text(int x, int y, int n) const
{
    std::string s;
    for (int i = x; i < x + n; ++i)
        s += static_cast<char>(screen[y][i]);
    return s;
}

std::set<Cell> Shot::blocks() const
{
    std::set<Cell> cells;
    for (int r = 0; r <= lowestPlayRow; ++r)
        for (int c = 1; c < mapWidth - 1; ++c)
            if (screen[r][c] == blockCell)
                cells.insert({r, c});
    return cells;
}

Game::Game(int start, int frameCostMs, int maxFrames) { memReset(start, frameCostMs, maxFrames); }

// The console as a frame leaves it.
static Shot snapshot(int frame, bool landed)
{
    Shot shot;
    shot.frame = frame;
    shot.landed = landed;
    shot.second = wallClock();
    shot.sleeps = mem.sleeps;
    shot.sleptMs = mem.lastSleepMs;
    std::memcpy(shot.screen.data(), mem.screen, sizeof mem.screen);
    return shot;
}

void Game::run()
{
    shots.reserve(static_cast<size_t>(mem.maxFrames) + 1);
    // Start-up reads the whole board back once, before the first frame.
    long readsBefore = mapWidth * mapHeight;
    mem.onFrameEnd = [&](int frame) {
        // Only a landing redraws the board during play, reading back all of it.
        shots.push_back(snapshot(frame, mem.cellsRead - readsBefore >= mapWidth * mapHeight));
        readsBefore = mem.cellsRead;
        if (player && frame + 1 <= mem.maxFrames)
            mem.keys[static_cast<size_t>(frame) + 1] |= player(shots.back());
    };
    platformOpen(screenColumnsNeeded, screenRowsNeeded);
    status = runGame();
    platformClose();
    // The game-over frame ends without an Escape poll: record it too. It is
    // the frame whose controls were polled but which never reached Escape.
    if (mem.frame <= mem.maxFrames && mem.polled[static_cast<size_t>(mem.frame)] != 0)
        shots.push_back(snapshot(mem.frame, true));
}

std::set<Cell> Game::falling(int frame) const
{
    std::set<Cell> landed;
    for (int f = frame - 1; f >= 0; --f) {
        if (shots[static_cast<size_t>(f)].landed) {
            landed = shots[static_cast<size_t>(f)].blocks();
            break;
        }
    }
    std::set<Cell> cells;
    for (const Cell& c : shots[static_cast<size_t>(frame)].blocks())
        if (!landed.count(c))
            cells.insert(c);
    return cells;
}

int Game::landingAfter(int frame) const
{
    for (size_t f = static_cast<size_t>(frame); f < shots.size(); ++f)
        if (shots[f].landed)
            return static_cast<int>(f);
    return -1;
}

std::function<unsigned(const Shot&)> steer(std::vector<Move> plan)
{
    // State of the piece in hand: which one, and how many frames since it
    // came in. Turning holds Up for two frames: the key is polled on one of
    // them, whichever is even.
    struct Hand {
        size_t piece = 0;
        int step = 0;
    };
    auto hand = std::make_shared<Hand>();
    return [plan = std::move(plan), hand](const Shot& shot) -> unsigned {
        if (shot.landed) {
            ++hand->piece;
            hand->step = 0;
        }
        const Move move = hand->piece < plan.size() ? plan[hand->piece] : Move{0, 0};
        const int step = hand->step++;
        if (step < 2 * move.turns)
            return keyBit(keyUp);
        const int side = step - 2 * move.turns;
        if (side < (move.shift < 0 ? -move.shift : move.shift))
            return keyBit(move.shift < 0 ? keyLeft : keyRight);
        return move.drop ? keyBit(keyDown) : 0u;
    };
}

// Drawing: the two console primitives and everything the game draws with
// them. Routines here read the Player record and never change it.
#pragma once

#include "model/player.h"

// Lets the compiler check printText formats where it knows how.
#if defined(__GNUC__)
#define BLOCKFALL_PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#else
#define BLOCKFALL_PRINTF_LIKE
#endif

// ---- The screen layout -------------------------------------------------
// The well takes the board's columns and rows (model/player.h) from the
// top-left corner; the rest of the screen is placed here, and a console must
// be at least this large.

constexpr int panelColumn = mapWidth + 1; // "Next:" and the preview, right of the well
constexpr int previewRow = 2;             // the preview's top row
constexpr int scoreRow = mapHeight;       // "Score: N", under the well
constexpr int gameOverRow = scoreRow + 1; // "Game Over"
constexpr int rateRow = gameOverRow + 2;  // frames in the last second
constexpr int sleepRow = rateRow + 1;     // the pause per frame, from column 1
constexpr int screenColumnsNeeded = panelColumn + blockWidth; // 26
constexpr int screenRowsNeeded = sleepRow + 2;                // the exit prompt's row too: 21

// ---- Primitives --------------------------------------------------------

void gotoxy(int x, int y);    // x and y are cut to 16 bits
int charAt(short x, short y); // code shown at (x, y); 32 when it cannot be read
void putCode(int code);       // one cell at the cursor
void printText(const char* format, ...) BLOCKFALL_PRINTF_LIKE;

// ---- The board and the falling piece -----------------------------------

void drawTable(const Player& p);
void drawBlock(const Player& p);
void deleteBlock(const Player& p);

// ---- Score and preview panel -------------------------------------------

void drawWorld(const Player& p);
void drawNextBlock(const Player& p, int x, int y);

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

// The playfield: the one Player record, the board and piece templates, and
// the rules that read and change them.
#pragma once

#include "platform/platform.h"

// ---- Sizes -------------------------------------------------------------

constexpr int mapWidth = 20;                 // board columns, walls included
constexpr int mapHeight = 15;                // board rows: 13 to play in, the floor, one below
constexpr int blockWidth = 5;                // columns of a piece grid
constexpr int blockHeight = 5;               // rows of a piece grid
constexpr int lowestPlayRow = mapHeight - 3; // the last row a piece can rest in: 12

// True for a cell of the board, walls and floor included.
constexpr bool onBoard(int column, int row)
{
    return column >= 0 && column < mapWidth && row >= 0 && row < mapHeight;
}

// ---- Cell codes --------------------------------------------------------
// Cells hold the console code (platform/platform.h) that shows them. Every rule asks
// only "is it emptyCell?": walls and landed cells are told apart by nothing
// but their code.

constexpr int emptyCell = 32;            // space
constexpr int wallCell = codeDarkShade;  // a wall or the floor
constexpr int blockCell = codeFullBlock; // a landed or falling piece cell

// ---- The record --------------------------------------------------------

struct Player {
    int table[mapHeight][mapWidth];     // the board, [row][column], row 0 on top
    int block[blockHeight][blockWidth]; // falling piece grid: emptyCell or blockCell
    int bx;                             // board column of the grid's top-left cell; may be negative
    int by;    // board row of the grid's top-left cell; negative above the board
    int bt;    // kind (0 to 3) of the falling piece
    int nb;    // kind (0 to 3) of the next piece, shown in the preview
    int score; // points so far
    int ox;    // console column where board column 0 is drawn
    int oy;    // console row where board row 0 is drawn
};

// ---- Templates ---------------------------------------------------------

extern const int masterTable[mapHeight][mapWidth];
extern const int block1[blockHeight][blockWidth]; // kind 0: square
extern const int block2[blockHeight][blockWidth]; // kind 1: bar of four
extern const int block3[blockHeight][blockWidth]; // kind 2: L
extern const int block4[blockHeight][blockWidth]; // kind 3: T

// The template of a kind (0 to 3).
const int (&blockTemplate(int kind))[blockHeight][blockWidth];

// ---- Spawning ----------------------------------------------------------

void initPlayer(Player& p, int ox, int oy);
void newBlock(Player& p);

// ---- Position tests and rotation ---------------------------------------
// Both tests return 1 or 0. Neither looks at the cells the piece covers.

int collided(const Player& p);      // some piece cell stands right above an occupied cell
int checkWallColl(const Player& p); // some piece cell stands in column 0 or 19
void rotateBlock(Player& p);        // a clockwise quarter turn of the grid

// ---- Landing -----------------------------------------------------------

void placeBlock(Player& p);
void checkLines(Player& p);
int checkGameOver(const Player& p);

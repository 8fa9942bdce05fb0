// The game's keys and what they do: the one home of the key help. `blockfall
// --help` prints it; the README's Keys table and the manual's KEYS section
// say the same words, which the command-line suite checks; the web page and
// the arcade's banner take their lines from here too.
#pragma once

#include <array>
#include <cstdio>

struct KeyHelp {
    const char* keys;  // as written on the keys: "Left, Right"
    const char* does;  // what they do: a phrase, no capital, no full stop
    const char* brief; // the fewest words, for a one-line summary; null for the prompt's keys
};

// In the order a player meets them: the play keys, then the prompt's.
extern const std::array<KeyHelp, 6> keyHelp;

// The Keys section of --help: one line a row, "  KEYS  DOES", the keys
// padded to one column, each line ending in a newline.
void writeKeyHelp(std::FILE* out);
// The play keys in one line, for a status line or a banner:
// "Left and Right move, Up turns, Down pushes down, Escape ends the game.\n"
void writeKeySummary(std::FILE* out);

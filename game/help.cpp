#include "game/help.h"

const std::array<KeyHelp, 6> keyHelp{{
    {"Left, Right", "move the piece one column", "Left and Right move"},
    {"Up", "turn the piece a quarter turn clockwise (not the square)", "Up turns"},
    {"Down", "push the piece down one row; at the bottom it lands at once", "Down pushes down"},
    {"Escape", "end the game", "Escape ends the game"},
    {"Enter", "leave, at the closing prompt", nullptr},
    {"Ctrl-D", "leave, at the closing prompt (the end of input)", nullptr},
}};

void writeKeyHelp(std::FILE* out)
{
    for (const KeyHelp& key : keyHelp)
        std::fprintf(out, "  %-13s%s\n", key.keys, key.does);
}

void writeKeySummary(std::FILE* out)
{
    const char* separator = "";
    for (const KeyHelp& key : keyHelp) {
        if (key.brief == nullptr)
            continue;
        std::fprintf(out, "%s%s", separator, key.brief);
        separator = ", ";
    }
    std::fputs(".\n", out);
}

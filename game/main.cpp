// blockfall: a falling-block puzzle for the text console.
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "game/game.h"
#include "game/help.h"
#include "platform/platform.h"

#ifndef BLOCKFALL_VERSION
#error "BLOCKFALL_VERSION names the version of the build (the project's, from CMake)"
#endif

namespace {

// The same on every platform: what the game is, its keys (game/help.h), the
// way out and the statuses it ends with. The keys stand in a section of
// their own, from "Keys:" to the blank line after, for scripts to take.
const char usageHead[] =
    "Usage: blockfall [-h | --help | --version]\n"
    "\n"
    "A falling-block puzzle for the text console. Pieces of four kinds fall\n"
    "into a walled well; every row they fill is cleared and scores 18 points.\n"
    "\n"
    "Keys:\n";
const char usageTail[] =
    "\n"
    "When the game ends it asks for Enter; an Enter typed during play answers\n"
    "it at once.\n"
    "\n"
    "Exit status:\n"
    "  0      the prompt was answered\n"
    "  1      the game could not start: no terminal, an unknown type, too small\n"
    "  2      an argument it does not know\n"
    "  128+n  signal n ended it: 130 for Ctrl-C, 129 when the terminal went away\n"
    "         (on Windows, Ctrl-C ends it with 0xC000013A)\n";

void writeUsage()
{
    std::fputs(usageHead, stdout);
    writeKeyHelp(stdout);
    std::fputs(usageTail, stdout);
}

bool isHelp(const char* argument)
{
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

bool isKnown(const char* argument)
{
    return isHelp(argument) || std::strcmp(argument, "--version") == 0;
}

// Answers the command line without a console, as a packaged program does:
// every argument must be known, and the first says what to print.
int answer(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (isKnown(argv[i]))
            continue;
        // One line, whatever the argument holds.
        std::fputs("blockfall: unknown argument '", stderr);
        for (const char* c = argv[i]; *c != '\0'; ++c)
            std::fputc(static_cast<unsigned char>(*c) < 0x20 ? '?' : *c, stderr);
        std::fputs("'; blockfall --help lists what it takes\n", stderr);
        return 2;
    }
    if (isHelp(argv[1]))
        writeUsage();
    else
        std::printf("blockfall %s\n", BLOCKFALL_VERSION);
    // An answer lost on the way (a full disk, a closed pipe) is no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fputs("blockfall: could not write to standard output\n", stderr);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        return answer(argc, argv);
    // A console we cannot play on has already been explained on standard
    // error.
    if (!platformOpen(screenColumnsNeeded, screenRowsNeeded))
        return 1;
    const int status = runGame();
    platformClose();
    return status;
}

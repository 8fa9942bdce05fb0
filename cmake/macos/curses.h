/* What the game takes from <curses.h> on macOS, declared as the system's
 * ncurses 5.7 declares it, so that the macOS compile check here (which has
 * macOS's C library headers but not its curses) holds the code to the old
 * API. Only the names the terminal backend uses. */
#ifndef BLOCKFALL_MACOS_CURSES_H
#define BLOCKFALL_MACOS_CURSES_H

#define NCURSES_VERSION_MAJOR 5
#define NCURSES_VERSION_MINOR 7
#define NCURSES_VERSION "5.7"

#undef ERR
#define ERR (-1)
#undef OK
#define OK (0)

#endif

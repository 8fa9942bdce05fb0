/* The terminfo calls of the game, declared as macOS's ncurses 5.7 <term.h>
 * declares them: capability names are taken as writable char * (this curses
 * predates the const ones), and tparm takes its nine parameters as longs. */
#ifndef BLOCKFALL_MACOS_TERM_H
#define BLOCKFALL_MACOS_TERM_H

#include <curses.h>

#ifdef __cplusplus
extern "C" {
#endif

int setupterm(char *term, int filedes, int *errret);
char *tigetstr(char *capname);
int tigetflag(char *capname);
int tigetnum(char *capname);
char *tparm(char *str, long p1, long p2, long p3, long p4, long p5, long p6, long p7, long p8,
            long p9);
int tputs(const char *str, int affcnt, int (*putc)(int));

#ifdef __cplusplus
}
#endif

#endif

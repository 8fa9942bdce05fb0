#!/usr/bin/env python3
"""The game on each common terminal type, in a UTF-8 and in the C locale,
at the smallest size it plays in: the well in the glyphs that type and
locale call for, a piece moved, the whole exit prompt, status 0 and the
terminal as found.

tmux is the terminal throughout, whatever TERM the game is told: it
understands every sequence these types' descriptions use (SO/SI with the
G1 designation, ESC ( 0, delays aside), so its screen read back with
attributes shows what such a terminal would. What it cannot show is a
delay written as text and then overwritten, so the bytes the game sent are
kept and searched for that too.

With BLOCKFALL_CHROOT set (the types the static build carries, comma
separated) the game runs in a chroot that holds the binary alone (and
BLOCKFALL_EMULATOR beside it when that names one; the UTF-8 locale's data
in that locale's case), on every type it carries; on one it does not carry
(tmux), from that type's entry in the chroot's own database; and an unknown
type is refused.

Usage: python3 -m tests.terminal.terminal_types_test PATH-TO-BLOCKFALL"""

import os
import shutil
import sys
import tempfile
import unittest

from tests.terminal.harness import (BLOCK, CHECKERBOARD, EMULATOR, PROMPT, SLEEP_ROW, WALL,
                                    Session, have_tmux, run_suite, well_cells, well_whole)

BINARY = None
CHROOT = os.environ.get("BLOCKFALL_CHROOT")

CARRIED = CHROOT.split(",") if CHROOT else []
TYPES = CARRIED + ["tmux"] if CHROOT else (
    "xterm-256color", "tmux-256color", "screen", "linux", "vt100", "vt220")
# The locale, and the glyphs of the walls and the blocks in it.
LOCALES = (("C.UTF-8", WALL, BLOCK), ("C", CHECKERBOARD, BLOCK))


def command(test, term, locale):
    """The game's argument list with this TERM and locale, in a chroot of its
    own if any (removed when the test ends)."""
    run = ["env", f"TERM={term}", f"LC_ALL={locale}"]
    if not CHROOT:
        return run + BINARY
    root = tempfile.mkdtemp(prefix="blockfall-root-")
    test.addCleanup(shutil.rmtree, root, True)
    # The binary alone, without the emulator that BINARY starts it under.
    shutil.copy(BINARY[-1], os.path.join(root, "blockfall"))
    game = ["/blockfall"]
    if EMULATOR:
        shutil.copy(shutil.which(EMULATOR[0]), os.path.join(root, "emulator"))
        game = ["/emulator", *EMULATOR[1:], *game]
    if locale != "C":
        data = "/usr/lib/locale/" + locale.replace("UTF-8", "utf8")
        shutil.copytree(data, root + data)
    folder = f"/lib/terminfo/{term[0]}"
    if term not in CARRIED and os.path.exists(f"{folder}/{term}"):
        os.makedirs(root + folder)
        shutil.copy(f"{folder}/{term}", root + folder)
    return run + ["chroot", root, *game]


class TerminalTypes(unittest.TestCase):
    def test_each_type_in_each_locale(self):
        for term in TYPES:
            for locale, wall, block in LOCALES:
                with self.subTest(term=term, locale=locale):
                    self.play(term, locale, wall, block)

    def test_unknown_type_refused(self):
        # Named with its control bytes made visible, never written back raw
        # (\udc9b: the byte 9B alone, a C1 control).
        for term, named in (("no-such-terminal", "no-such-terminal"),
                            ("x\x1b]2;owned\x07\udc9b2J\\", r"x^[]2;owned^G\233" r"2J\\")):
            s = Session(command(self, term, "C"), width=26, height=21,
                        shell='"$@" 2> {dir}/err')
            try:
                self.assertEqual(s.status(15), 1)
                self.assertIn(f"'{named}' is not known here", s.read("err"))
            finally:
                s.close()

    def play(self, term, locale, wall, block):
        s = Session(command(self, term, locale), width=26, height=21, record=True)
        try:
            self.check(s, locale, wall, block)
        finally:
            s.close()

    def check(self, s, locale, wall, block):
        def read():
            """The screen in the harness's glyphs, whatever this locale's are."""
            return [r.replace(wall, WALL).replace(block, BLOCK) for r in s.attributes()]

        screen = s.wait_for(lambda sc: well_whole(sc) and len(well_cells(sc)) == 4, 5, 0.05,
                            screen=read)
        left = min(c for _, c in well_cells(screen))
        s.keys("Left")
        s.wait_for(lambda sc: well_whole(sc) and min(c for _, c in well_cells(sc)) == left - 1,
                   2, 0.05, screen=read)
        s.keys("Escape")
        # At 26 columns the prompt fills its row to the bottom-right cell.
        s.wait_for(lambda sc: sc[SLEEP_ROW + 1] == PROMPT, 3, screen=read)
        s.keys("Enter")
        self.assertEqual(s.status(), 0)
        self.assertTrue(s.stty_unchanged())
        self.assertTrue(s.restored())
        sent = s.output()
        self.assertNotIn(b"$<", sent, "a delay sent as text")
        if locale == "C":
            self.assertTrue(all(b < 0x80 for b in sent), "UTF-8 sent in the C locale")


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "terminal types suite",
              needs=lambda: have_tmux() and (not CHROOT or os.geteuid() == 0),
              missing="tmux is not installed, or a chroot needs root")

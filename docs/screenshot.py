#!/usr/bin/env python3
"""Makes the README's picture from a real game: the built binary plays in a
small tmux window, a few pieces are moved, turned and dropped by scripted
keys, the pane is read back after each step, and the frames are drawn into
an animated GIF, each shown for as long as it stood on the terminal.

Usage, from the top of the source tree:
    python3 docs/screenshot.py build/release/blockfall docs/screen.gif

Needs tmux, Pillow and the DejaVu Sans Mono font. The pieces are the
game's own random ones, so each run makes a different picture."""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

from tests.terminal.harness import BLOCK, WALL, start_game, well_cells  # noqa: E402

try:
    from PIL import Image, ImageDraw, ImageFont
except ImportError:  # a Python of its own beside Debian's packages
    sys.path.append("/usr/lib/python3/dist-packages")
    from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
COLUMNS, ROWS = 30, 21  # the game needs 26x21; a little room on the right
FONT_SIZE, CELL_W, CELL_H, MARGIN = 14, 9, 17, 8
BACKGROUND, FOREGROUND = (24, 24, 28), (208, 208, 200)

# Each piece: the keys that steer it from where it comes in, near the left
# wall, pressed one a step (a move into a wall is refused); then Down until it
# has landed and the next one shows.
STEERING = [
    ["Left"] * 3,
    ["Up"] + ["Right"] * 14,
    ["Up", "Up", "Right", "Right", "Right"],
]
STEP = 0.2  # seconds between keys: apart enough that none is taken for a held key's repeat
FALL = 3  # steps left to gravity before the drop, to show the piece falling


class Recording:
    """The pane's frames with the time each was read, keys sent between."""

    def __init__(self, session):
        self.session = session
        self.frames = []  # (seconds since the start, rows)
        self.began = time.monotonic()

    def look(self):
        screen = self.session.attributes()
        self.frames.append((time.monotonic() - self.began, screen))
        return screen

    def step(self, *keys):
        if keys:
            self.session.keys(*keys)
        time.sleep(STEP)
        return self.look()

    def drop(self):
        """Down until the well's count of blocks changes, as the next
        piece's arrival (or a cleared row) changes it, or at most the well's
        depth and a little."""
        before = len(well_cells(self.frames[-1][1]))
        for _ in range(16):
            if len(well_cells(self.step("Down"))) != before:
                return


def play(binary):
    with start_game([binary], width=COLUMNS, height=ROWS) as session:
        recording = Recording(session)
        recording.look()
        for keys in STEERING:
            for key in keys:
                recording.step(key)
            for _ in range(FALL):
                recording.step()
            recording.drop()
        for _ in range(4):
            recording.step()
        return recording.frames


def draw(rows, font):
    image = Image.new("P", (COLUMNS * CELL_W + 2 * MARGIN, ROWS * CELL_H + 2 * MARGIN))
    image.putpalette(BACKGROUND + FOREGROUND)
    pen = ImageDraw.Draw(image)
    pen.fontmode = "1"  # two colours: no smoothing, a small GIF
    for r, row in enumerate(rows[:ROWS]):
        for c, glyph in enumerate(row[:COLUMNS]):
            x, y = MARGIN + c * CELL_W, MARGIN + r * CELL_H
            # Block glyphs fill their cell, as terminals draw them themselves
            # rather than from the font, so that the walls join up.
            if glyph == BLOCK:
                pen.rectangle([x, y, x + CELL_W - 1, y + CELL_H - 1], fill=1)
            elif glyph == WALL:  # the dark shade: three pixels in four lit
                for dy in range(CELL_H):
                    for dx in range(CELL_W):
                        if (dx + x) % 2 or (dy + y) % 2:
                            pen.point((x + dx, y + dy), fill=1)
            elif glyph != " ":
                pen.text((x, y + 1), glyph, font=font, fill=1)
    return image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    binary, out = sys.argv[1], sys.argv[2]
    frames = play(os.path.abspath(binary))
    # Frames the terminal showed alike are one, shown for their whole time.
    shown = []
    for at, rows in frames:
        if shown and shown[-1][1] == rows:
            continue
        shown.append((at, rows))
    font = ImageFont.truetype(FONT, FONT_SIZE)
    images = [draw(rows, font) for _, rows in shown]
    ends = [at for at, _ in shown[1:]] + [shown[-1][0] + 2.0]
    durations = [max(20, round((end - at) * 1000)) for (at, _), end in zip(shown, ends)]
    images[0].save(out, save_all=True, append_images=images[1:], duration=durations, loop=0,
                   optimize=True, disposal=1)
    print(f"{out}: {len(images)} frames, {sum(durations) / 1000:.1f} s, "
          f"{os.path.getsize(out)} bytes")


if __name__ == "__main__":
    main()

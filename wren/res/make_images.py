#!/usr/bin/env python3
"""Draws the resource library's icons and bitmaps as small PNG files.

Run from this folder: python3 make_images.py. The PNG files are committed; the build only
embeds them, so this script is needed again only when a picture changes.
"""
import struct
import zlib

CLEAR = (0, 0, 0, 0)
INK = (40, 44, 52, 255)
WHITE = (255, 255, 255, 255)
PAPER = (250, 246, 232, 255)
YELLOW = (250, 204, 60, 255)
ORANGE = (240, 130, 30, 255)
GREEN = (40, 170, 70, 255)
BLUE = (40, 110, 210, 255)
RED = (210, 40, 40, 255)
GREY = (150, 150, 150, 255)
LIGHT = (215, 218, 224, 255)
SKY = (150, 200, 240, 255)
BROWN = (150, 100, 50, 255)


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [CLEAR] * (w * h)

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y * self.w + x] = c

    def rect(self, x0, y0, x1, y1, line, fill=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                edge = x in (x0, x1) or y in (y0, y1)
                if edge and line:
                    self.set(x, y, line)
                elif not edge and fill:
                    self.set(x, y, fill)

    def line(self, x0, y0, x1, y1, c):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.set(x0, y0, c)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def disc(self, cx, cy, r, c, ring=None):
        for y in range(self.h):
            for x in range(self.w):
                d = (x - cx) ** 2 + (y - cy) ** 2
                if d <= r * r:
                    self.set(x, y, c)
                    if ring and d > (r - 1) * (r - 1):
                        self.set(x, y, ring)

    def png(self, path):
        raw = b''.join(b'\0' + b''.join(bytes(p) for p in self.px[y * self.w:(y + 1) * self.w])
                       for y in range(self.h))

        def chunk(kind, data):
            body = kind + data
            return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

        data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', self.w, self.h, 8, 6, 0, 0, 0))
        data += chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
        with open(path, 'wb') as f:
            f.write(data)


def envelope(c, fill=WHITE, open_flap=False, y0=3):
    c.rect(1, y0, 14, y0 + 9, INK, fill)
    if open_flap:
        c.line(1, y0, 7, y0 - 3, INK)
        c.line(8, y0 - 3, 14, y0, INK)
        c.line(2, y0 + 1, 7, y0 + 5, GREY)
        c.line(8, y0 + 5, 13, y0 + 1, GREY)
    else:
        c.line(1, y0, 7, y0 + 5, INK)
        c.line(8, y0 + 5, 14, y0, INK)


def arrow_down(c, x, y, col):
    c.rect(x + 1, y, x + 3, y + 3, col, col)
    c.line(x - 1, y + 4, x + 5, y + 4, col)
    c.line(x, y + 5, x + 4, y + 5, col)
    c.line(x + 1, y + 6, x + 3, y + 6, col)
    c.set(x + 2, y + 7, col)


def arrow_up(c, x, y, col):
    c.set(x + 2, y, col)
    c.line(x + 1, y + 1, x + 3, y + 1, col)
    c.line(x, y + 2, x + 4, y + 2, col)
    c.line(x - 1, y + 3, x + 5, y + 3, col)
    c.rect(x + 1, y + 4, x + 3, y + 7, col, col)


def check(c, x, y, col):
    for i in range(3):
        c.line(x, y + 3 + i - 1, x + 2, y + 5 + i - 1, col)
        c.line(x + 2, y + 5 + i - 1, x + 6, y + i - 1, col)


def cross(c, x, y, col):
    for d in (0, 1):
        c.line(x + d, y, x + 5 + d, y + 5, col)
        c.line(x + 5 + d, y, x + d, y + 5, col)


def clock(c, x, y):
    c.disc(x + 3, y + 3, 3.6, WHITE, INK)
    c.line(x + 3, y + 1, x + 3, y + 3, INK)
    c.line(x + 3, y + 3, x + 5, y + 3, INK)


def pencil(c, x0, y0, x1, y1):
    for d in range(3):
        c.line(x0 + d, y0, x1 + d, y1, YELLOW if d == 1 else ORANGE)
    c.set(x0 + 1, y0, INK)
    c.line(x1, y1 - 1, x1 + 2, y1 - 1, RED)


def page(c, fill=PAPER):
    c.rect(3, 1, 12, 14, INK, fill)
    c.line(10, 1, 12, 3, INK)


def save(c, name):
    c.png(name)


def main():
    # Main list rows.
    c = Canvas(16, 16); envelope(c, y0=5); c.disc(12, 3, 3, YELLOW, ORANGE); c.line(12, 1, 12, 5, WHITE); c.line(10, 3, 14, 3, WHITE); save(c, 'new_message.png')
    c = Canvas(16, 16); envelope(c, y0=6); arrow_down(c, 6, 0, GREEN); save(c, 'inbox.png')
    c = Canvas(16, 16); page(c); [c.line(5, y, 10, y, GREY) for y in (5, 7, 9)]; pencil(c, 9, 14, 14, 6); save(c, 'drafts.png')
    c = Canvas(16, 16); envelope(c, y0=6); arrow_up(c, 6, 0, ORANGE); save(c, 'outbox.png')
    c = Canvas(16, 16); envelope(c, y0=6); check(c, 5, 0, BLUE); save(c, 'sent.png')
    c = Canvas(16, 16); envelope(c, fill=LIGHT); clock(c, 8, 8); save(c, 'reports.png')
    c = Canvas(16, 16); c.rect(1, 3, 14, 13, INK, LIGHT); c.rect(3, 5, 12, 8, GREY, WHITE); c.line(3, 11, 12, 11, GREY); save(c, 'templates.png')
    c = Canvas(16, 16); c.disc(7.5, 7.5, 7, GREY, INK); c.disc(7.5, 7.5, 3, WHITE, INK)
    for x, y in ((7, 0), (8, 0), (7, 15), (8, 15), (0, 7), (0, 8), (15, 7), (15, 8)):
        c.set(x, y, INK)
    save(c, 'settings.png')

    # Message states in the folder view.
    c = Canvas(16, 16); envelope(c, fill=YELLOW); save(c, 'state_unread.png')
    c = Canvas(16, 16); envelope(c, open_flap=True, y0=5); save(c, 'state_read.png')
    c = Canvas(16, 16); envelope(c, fill=LIGHT, y0=6); arrow_down(c, 6, 0, GREY); save(c, 'state_notification.png')
    c = Canvas(16, 16); envelope(c, fill=PAPER, y0=4); pencil(c, 8, 15, 14, 7); save(c, 'state_draft.png')
    c = Canvas(16, 16); envelope(c); clock(c, 8, 8); save(c, 'state_waiting.png')
    c = Canvas(16, 16); envelope(c, y0=6); arrow_up(c, 2, 0, GREEN); arrow_down(c, 9, 0, GREEN); save(c, 'state_transfer.png')
    c = Canvas(16, 16); envelope(c, fill=LIGHT, y0=6); check(c, 5, 0, GREEN); save(c, 'state_sent.png')
    c = Canvas(16, 16); envelope(c, y0=6); cross(c, 5, 0, RED); save(c, 'state_failed.png')

    # Media kinds, unknown file, active profile.
    c = Canvas(16, 16); c.rect(0, 2, 15, 13, INK, SKY); c.disc(11, 6, 2, YELLOW)
    for x in range(1, 15):
        top = 12 - min(abs(x - 5), 6) if x < 10 else 12 - min(abs(x - 11), 3)
        for y in range(max(top, 7), 13):
            c.set(x, y, GREEN)
    save(c, 'picture.png')
    c = Canvas(16, 16); c.disc(4, 12, 2.5, INK); c.disc(11, 10, 2.5, INK); c.rect(6, 2, 6, 12, INK); c.rect(13, 1, 13, 10, INK)
    c.line(6, 2, 13, 0, INK); c.line(6, 3, 13, 1, INK); save(c, 'sound.png')
    c = Canvas(16, 16); page(c, WHITE); [c.line(5, y, 10, y, INK) for y in (4, 6, 8, 10, 12)]; save(c, 'text.png')
    c = Canvas(16, 16); c.rect(0, 2, 15, 13, INK, INK)
    for x in range(1, 15, 3):
        c.set(x, 3, WHITE); c.set(x, 12, WHITE)
    c.rect(2, 5, 13, 10, None, SKY); c.rect(3, 5, 12, 10, SKY, BLUE); save(c, 'video.png')
    c = Canvas(16, 16); page(c, LIGHT); c.line(6, 5, 8, 4, INK); c.line(9, 5, 9, 7, INK); c.set(8, 8, INK); c.set(8, 11, INK); save(c, 'unknown.png')
    c = Canvas(12, 12); c.disc(5.5, 5.5, 5.5, GREEN, INK); check(c, 2, 3, WHITE); save(c, 'active.png')

    # About box: the program's mark, a mosaic envelope.
    c = Canvas(32, 32)
    colours = [BLUE, GREEN, YELLOW, ORANGE, RED, SKY]
    for ty in range(4):
        for tx in range(4):
            col = colours[(tx * 3 + ty * 5) % len(colours)]
            c.rect(2 + tx * 7, 4 + ty * 6, 7 + tx * 7, 8 + ty * 6, None, col)
            c.rect(2 + tx * 7, 4 + ty * 6, 7 + tx * 7, 8 + ty * 6, col)
    c.rect(1, 3, 30, 28, INK)
    c.line(1, 3, 15, 16, WHITE); c.line(16, 16, 30, 3, WHITE)
    c.line(1, 4, 15, 17, WHITE); c.line(16, 17, 30, 4, WHITE)
    save(c, 'program.png')

    # Bitmaps: a frame drawn over picture and audio cells, and the no-preview placeholder.
    c = Canvas(24, 18); c.rect(0, 0, 23, 17, INK, WHITE); c.rect(2, 2, 21, 15, GREY, None)
    c.line(7, 5, 7, 12, INK); c.line(8, 6, 10, 8, INK); c.line(10, 8, 8, 10, INK)  # play mark
    c.line(8, 6, 8, 11, INK); c.line(9, 7, 9, 10, INK); c.set(10, 8, INK); c.set(10, 9, INK)
    c.line(13, 12, 16, 6, GREEN); c.line(16, 6, 19, 12, GREEN); save(c, 'cell_mark.png')
    c = Canvas(32, 32); c.rect(0, 0, 31, 31, GREY, LIGHT)
    c.disc(11, 10, 3, WHITE)
    c.line(3, 26, 12, 14, GREY); c.line(12, 14, 18, 21, GREY); c.line(18, 21, 22, 17, GREY); c.line(22, 17, 28, 26, GREY)
    c.line(3, 26, 28, 26, GREY)
    for d in (0, 1):
        c.line(4 + d, 4, 27 + d, 27, RED)
    save(c, 'no_preview.png')


if __name__ == '__main__':
    main()

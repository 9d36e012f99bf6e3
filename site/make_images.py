#!/usr/bin/env python3
"""Draws the images of the site and of the demo bases (plain Python 3, no packages).

    python3 site/make_images.py            # writes site/*.gif and demo/images/SCHEMAT.JPG

The GIFs: gt.gif (background of document pages), gs.gif (background of the
table of contents), orbmp.gif and orbmplus.gif (the ruling icons beside an
article: first and further icon of one place), logo.gif, reklama1..3.gif (the
advertisements of the demo registry), favicon.ico (asked for by every browser). SCHEMAT.JPG is the image item of the
demo base: a plan of the frames of the site.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# A 5x7 font for the few labels the images carry.
FONT = {
    'A': ".###.#...##...#######...##...##...#", 'B': "####.#...#####.#...##...##...#####.",
    'C': ".###.#...##....#....#....#...#.###.", 'D': "####.#...##...##...##...##...#####.",
    'E': "######....####.#....#....#....#####", 'F': "######....####.#....#....#....#....",
    'G': ".###.#...##....#.####...##...#.####", 'H': "#...##...#######...##...##...##...#",
    'I': ".###...#....#....#....#....#...###.", 'J': "..###" "...#." "...#." "...#." "...#." "#..#." ".##..",
    'K': "#...##..#.###..#.#..#..#.#...##...#", 'L': "#....#....#....#....#....#....#####",
    'M': "#...###.###.#.##...##...##...##...#", 'N': "#...###..##.#.##..###...##...##...#",
    'O': ".###.#...##...##...##...##...#.###.", 'P': "####.#...##...#####.#....#....#....",
    'Q': ".###.#...##...##...##.#.##..#..##.#", 'R': "####.#...##...#####.#.#..#..#.#...#",
    'S': ".####" "#...." "#...." ".###." "....#" "....#" "####.",
    'T': "#####..#....#....#....#....#....#..", 'U': "#...##...##...##...##...##...#.###.",
    'V': "#...##...##...##...##...#.#.#...#..", 'W': "#...##...##...##.#.##.#.##.#.#.#.#.",
    'X': "#...##...#.#.#...#...#.#.#...##...#", 'Y': "#...##...#.#.#...#....#....#....#..",
    'Z': "#####....#...#...#...#...#....#####", ' ': "." * 35, '.': "." * 30 + "..#..",
    '+': "....." "..#.." "..#.." "#####" "..#.." "..#.." ".....",
    '9': ".###.#...##...#.####....#...#..##..", '7': "#####....#...#...#...#....#....#...",
}


def text_pixels(text, scale=1):
    """Rows of 0/1 for a line of text, 6 pixels a character."""
    rows = []
    for y in range(7):
        row = []
        for ch in text.upper():
            glyph = FONT.get(ch, FONT[' '])
            row += [1 if glyph[y * 5 + x] == '#' else 0 for x in range(5)] + [0]
        rows.append([v for v in row for _ in range(scale)])
    return [r for r in rows for _ in range(scale)]


class Canvas:
    def __init__(self, w, h, colour=0):
        self.w, self.h = w, h
        self.px = [colour] * (w * h)

    def rect(self, x0, y0, x1, y1, colour, fill=False):
        for y in range(max(0, y0), min(self.h, y1 + 1)):
            for x in range(max(0, x0), min(self.w, x1 + 1)):
                if fill or y in (y0, y1) or x in (x0, x1):
                    self.px[y * self.w + x] = colour

    def text(self, x0, y0, text, colour, scale=1):
        for dy, row in enumerate(text_pixels(text, scale)):
            for dx, v in enumerate(row):
                if v and 0 <= x0 + dx < self.w and 0 <= y0 + dy < self.h:
                    self.px[(y0 + dy) * self.w + x0 + dx] = colour

    def put(self, x, y, colour):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y * self.w + x] = colour


def gif(canvas, palette, transparent=None):
    """A GIF89a of a canvas of palette indices; LZW with literal codes only."""
    bits = max(2, (len(palette) - 1).bit_length())
    size = 1 << bits
    palette = palette + [(0, 0, 0)] * (size - len(palette))
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", canvas.w, canvas.h, 0x80 | (bits - 1), 0, 0)
    for r, g, b in palette:
        out += bytes((r, g, b))
    if transparent is not None:
        out += bytes((0x21, 0xF9, 4, 1, 0, 0, transparent, 0))
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, canvas.w, canvas.h, 0)
    clear, end = size, size + 1
    width = bits + 1
    codes, run = [clear], 0
    for p in canvas.px:
        # Emit a clear code before the decoder's table would widen the codes.
        if run == size - 2:
            codes.append(clear)
            run = 0
        codes.append(p)
        run += 1
    codes.append(end)
    stream, acc, nacc = bytearray(), 0, 0
    for c in codes:
        acc |= c << nacc
        nacc += width
        while nacc >= 8:
            stream.append(acc & 0xFF)
            acc >>= 8
            nacc -= 8
    if nacc:
        stream.append(acc & 0xFF)
    out.append(bits)
    for i in range(0, len(stream), 255):
        block = stream[i:i + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3b"
    return bytes(out)


def jpeg_gray(canvas, levels, quality=85):
    """A baseline JPEG (one grey component) of a canvas; levels maps index -> 0..255."""
    q50 = [16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55, 14, 13, 16, 24, 40, 57, 69, 56,
           14, 17, 22, 29, 51, 87, 80, 62, 18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
           49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99]
    s = 5000 / quality if quality < 50 else 200 - 2 * quality
    q = [min(255, max(1, (v * s + 50) // 100)) for v in q50]
    zigzag = [0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26, 33, 40, 48, 41, 34, 27, 20,
              13, 6, 7, 14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52,
              45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63]
    dc_bits = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
    dc_vals = list(range(12))
    ac_bits = [0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d]
    ac_vals = bytes.fromhex(
        "01020300041105122131410613516107227114328191a1082342b1c11552d1f02433627282090a161718191a25262728292a3435"
        "363738393a434445464748494a535455565758595a636465666768696a737475767778797a838485868788898a92939495969798"
        "999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5c6c7c8c9cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4"
        "f5f6f7f8f9fa")

    def table(bits, vals):
        codes, code, k = {}, 0, 0
        for length in range(1, 17):
            for _ in range(bits[length - 1]):
                codes[vals[k]] = (code, length)
                code += 1
                k += 1
            code <<= 1
        return codes

    dc, ac = table(dc_bits, dc_vals), table(ac_bits, list(ac_vals))
    cos = [[math.cos((2 * x + 1) * u * math.pi / 16) for x in range(8)] for u in range(8)]
    out = bytearray()
    acc, nacc = 0, 0

    def put(code, length):
        nonlocal acc, nacc
        acc = (acc << length) | code
        nacc += length
        while nacc >= 8:
            byte = (acc >> (nacc - 8)) & 0xFF
            out.append(byte)
            if byte == 0xFF:
                out.append(0)
            nacc -= 8

    def amplitude(v):
        n = abs(v).bit_length()
        return n, (v if v >= 0 else v + (1 << n) - 1)

    prev = 0
    w8, h8 = (canvas.w + 7) // 8 * 8, (canvas.h + 7) // 8 * 8
    for by in range(0, h8, 8):
        for bx in range(0, w8, 8):
            block = [levels[canvas.px[min(by + y, canvas.h - 1) * canvas.w + min(bx + x, canvas.w - 1)]] - 128
                     for y in range(8) for x in range(8)]
            coef = []
            for v in range(8):
                for u in range(8):
                    s_ = sum(block[y * 8 + x] * cos[u][x] * cos[v][y] for y in range(8) for x in range(8))
                    cu = 1 / math.sqrt(2) if u == 0 else 1
                    cv = 1 / math.sqrt(2) if v == 0 else 1
                    coef.append(round(0.25 * cu * cv * s_ / q[v * 8 + u]))
            zz = [coef[i] for i in zigzag]
            n, bits_ = amplitude(zz[0] - prev)
            prev = zz[0]
            put(*dc[n])
            if n:
                put(bits_, n)
            zeros = 0
            for v in zz[1:]:
                if v == 0:
                    zeros += 1
                    continue
                while zeros > 15:
                    put(*ac[0xF0])
                    zeros -= 16
                n, bits_ = amplitude(v)
                put(*ac[(zeros << 4) | n])
                put(bits_, n)
                zeros = 0
            if zeros:
                put(*ac[0x00])
    if nacc:
        put((1 << (8 - nacc)) - 1, 8 - nacc)
    head = bytearray(b"\xff\xd8")
    head += b"\xff\xe0" + struct.pack(">H5sBBBHHBB", 16, b"JFIF\0", 1, 1, 0, 1, 1, 0, 0)
    head += b"\xff\xdb" + struct.pack(">HB", 67, 0) + bytes(q[i] for i in zigzag)
    head += b"\xff\xc0" + struct.pack(">HBHHBBBB", 11, 8, canvas.h, canvas.w, 1, 1, 0x11, 0)
    head += b"\xff\xc4" + struct.pack(">HB", 3 + 16 + len(dc_vals), 0x00) + bytes(dc_bits) + bytes(dc_vals)
    head += b"\xff\xc4" + struct.pack(">HB", 3 + 16 + len(ac_vals), 0x10) + bytes(ac_bits) + ac_vals
    head += b"\xff\xda" + struct.pack(">HBBBBBB", 8, 1, 1, 0x00, 0, 63, 0)
    return bytes(head + out + b"\xff\xd9")


def ruling_icon(plus):
    # A small red seal with a white paragraph mark (or plus: a further ruling).
    c = Canvas(14, 14, 0)
    for y in range(14):
        for x in range(14):
            if (x - 6.5) ** 2 + (y - 6.5) ** 2 <= 42:
                c.put(x, y, 1)
    if plus:
        c.rect(6, 3, 7, 10, 2, fill=True)
        c.rect(3, 6, 10, 7, 2, fill=True)
    else:
        for x, y in [(6, 3), (7, 3), (8, 3), (5, 4), (6, 5), (7, 5), (5, 6), (8, 6), (6, 7), (7, 7),
                     (8, 8), (5, 9), (6, 9), (7, 9), (5, 4)]:
            c.put(x, y, 2)
    return gif(c, [(255, 255, 255), (176, 24, 32), (255, 255, 255)], transparent=0)


def tile(w, h, base, line, step):
    c = Canvas(w, h, 0)
    for y in range(h):
        for x in range(w):
            if (x + y) % step == 0 and (x // step + y // step) % 2 == 0:
                c.put(x, y, 1)
    return gif(c, [base, line])


def banner(text, sub, colours):
    c = Canvas(468, 60, 0)
    c.rect(0, 0, 467, 59, 1)
    c.rect(3, 3, 464, 56, 1)
    c.text(20, 10, text, 2, scale=3)
    c.text(22, 40, sub, 1, scale=1)
    return gif(c, colours)


def favicon():
    """favicon.ico: a 16x16 icon (32-bit BMP inside ICO), a white V on dark blue."""
    c = Canvas(16, 16, 1)
    c.text(3, 1, "V", 0, scale=2)
    colours = {0: (255, 255, 255, 255), 1: (120, 40, 40, 255)}
    pixels = bytearray()
    for y in range(15, -1, -1):  # bottom-up rows
        for x in range(16):
            r, g, b, a = colours[c.px[y * 16 + x]]
            pixels += bytes((b, g, r, a))
    mask = bytes(16 * 4)
    header = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, len(image), 22) + image


def schemat():
    c = Canvas(320, 200, 0)
    c.rect(0, 0, 319, 199, 1)
    c.rect(4, 4, 104, 195, 1)
    c.text(10, 10, "VAMUNAV", 1)
    c.rect(8, 24, 100, 44, 2, fill=True)
    c.text(14, 31, "PRZYCISKI", 0)
    c.rect(8, 50, 100, 120, 1)
    c.text(14, 56, "DRZEWO", 1)
    c.rect(8, 126, 100, 191, 1)
    c.text(14, 132, "SPIS", 1)
    c.rect(110, 4, 315, 195, 1)
    c.text(116, 10, "MAIN", 1)
    c.rect(114, 24, 311, 148, 1)
    c.text(120, 30, "VAMUTEXT", 1)
    for y in range(46, 140, 10):
        c.rect(120, y, 300 - (y * 7) % 60, y + 2, 2, fill=True)
    c.rect(114, 154, 311, 191, 1)
    c.text(120, 160, "VAMUFOOT", 1)
    return jpeg_gray(c, [255, 40, 160])


def main():
    images = {
        "gt.gif": tile(48, 48, (255, 255, 255), (244, 241, 232), 6),
        "gs.gif": tile(48, 48, (224, 255, 224), (208, 242, 208), 6),
        "orbmp.gif": ruling_icon(False),
        "orbmplus.gif": ruling_icon(True),
        "reklama1.gif": banner("VAMU QAD", "DZ.U. I M.P. W JEDNYM MIEJSCU", [(255, 250, 235), (128, 32, 32), (40, 40, 120)]),
        "reklama2.gif": banner("ORZECZENIA", "PRZY KAZDYM ARTYKULE", [(235, 245, 255), (40, 40, 120), (128, 32, 32)]),
        "reklama3.gif": banner("SPIS TRESCI", "DRZEWO AKTOW OD ROCZNIKA DO POZYCJI", [(240, 255, 240), (20, 90, 20), (40, 40, 120)]),
    }
    logo = Canvas(180, 40, 0)
    logo.text(6, 6, "VAMU QAD", 1, scale=3)
    images["logo.gif"] = gif(logo, [(255, 255, 255), (40, 40, 120)], transparent=0)
    images["favicon.ico"] = favicon()
    for name, data in images.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(ROOT, "demo", "images"), exist_ok=True)
    with open(os.path.join(ROOT, "demo", "images", "SCHEMAT.JPG"), "wb") as f:
        f.write(schemat())


if __name__ == "__main__":
    main()

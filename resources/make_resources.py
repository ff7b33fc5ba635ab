#!/usr/bin/env python3
"""Builds ipsetter.ico and keyboard.bmp from the pixel art in this folder.

usage: make_resources.py SOURCE_DIR OUTPUT_DIR
"""

import struct
import sys
from pathlib import Path

# The 16-colour palette of Windows, in index order; icon colours must come from it.
VGA16 = [
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
]


class ArtError(Exception):
    pass


def read_art(path, width, height):
    """Returns (colours: char -> 0xRRGGBB, transparent char or None, rows)."""
    colours, transparent, rows, in_pixels = {}, None, [], False
    for number, line in enumerate(path.read_text(encoding="ascii").splitlines(), 1):
        if in_pixels:
            rows.append(line)
            continue
        if not line.strip() or line.startswith("#"):
            continue
        words = line.split()
        if words[0] == "colour" and len(words) == 3 and len(words[1]) == 1:
            colours[words[1]] = int(words[2], 16)
        elif words[0] == "transparent" and len(words) == 2 and len(words[1]) == 1:
            transparent = words[1]
        elif words == ["pixels"]:
            in_pixels = True
        else:
            raise ArtError(f"{path}:{number}: cannot read '{line}'")
    if len(rows) != height or any(len(r) != width for r in rows):
        raise ArtError(f"{path}: the picture must be {width} x {height} pixels")
    for y, row in enumerate(rows):
        for x, char in enumerate(row):
            if char != transparent and char not in colours:
                raise ArtError(f"{path}: pixel {x},{y} has undeclared colour '{char}'")
    return colours, transparent, rows


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def icon_image(path, size):
    colours, transparent, rows = read_art(path, size, size)
    index = {}
    for char, rgb in colours.items():
        if rgb not in VGA16:
            raise ArtError(f"{path}: colour {rgb:06X} of '{char}' is not one of the 16 standard colours")
        index[char] = VGA16.index(rgb)
    xor, mask = b"", b""
    for row in reversed(rows):  # DIBs run bottom-up
        nibbles = [0 if c == transparent else index[c] for c in row]
        xor += padded(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2)))
        bits = "".join("1" if c == transparent else "0" for c in row)
        mask += padded(int(bits, 2).to_bytes(size // 8, "big"))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", rgb & 0xFF, (rgb >> 8) & 0xFF, rgb >> 16, 0) for rgb in VGA16)
    return header + palette + xor + mask


def make_icon(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset + len(data))
        data += image
    return directory + entries + data


def make_bitmap(path, width, height):
    colours, _, rows = read_art(path, width, height)
    pixels = b""
    for row in reversed(rows):
        pixels += padded(b"".join(struct.pack("<BBB", colours[c] & 0xFF, (colours[c] >> 8) & 0xFF,
                                               colours[c] >> 16) for c in row))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return file_header + info + pixels


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    source, output = Path(argv[1]), Path(argv[2])
    try:
        icon = make_icon([(32, icon_image(source / "icon-32.txt", 32)),
                          (16, icon_image(source / "icon-16.txt", 16))])
        keyboard = make_bitmap(source / "keyboard.txt", 23, 20)
    except (ArtError, OSError, ValueError) as error:
        print(f"make_resources: {error}", file=sys.stderr)
        return 1
    output.mkdir(parents=True, exist_ok=True)
    (output / "ipsetter.ico").write_bytes(icon)
    (output / "keyboard.bmp").write_bytes(keyboard)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

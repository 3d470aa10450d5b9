"""Screen pictures as plain values: rectangles, RGB images, what changed between two, and WCAG contrast."""

import struct
import zlib
from collections import Counter
from dataclasses import dataclass


@dataclass(frozen=True)
class Rect:
    """A rectangle in screen pixels; x and y are its top left corner."""

    x: int
    y: int
    width: int
    height: int

    @property
    def right(self):
        return self.x + self.width

    @property
    def bottom(self):
        return self.y + self.height

    def center(self):
        """The pixel in the middle, as (x, y)."""
        return (self.x + self.width // 2, self.y + self.height // 2)

    def contains(self, point):
        """Whether the pixel point, as (x, y), is inside."""
        return self.x <= point[0] < self.right and self.y <= point[1] < self.bottom

    def grown(self, by):
        """The rectangle with by pixels more on every side."""
        return Rect(self.x - by, self.y - by, self.width + 2 * by, self.height + 2 * by)

    def clipped(self, other):
        """The part inside other (an empty rectangle when they do not meet)."""
        x, y = max(self.x, other.x), max(self.y, other.y)
        return Rect(x, y, max(0, min(self.right, other.right) - x), max(0, min(self.bottom, other.bottom) - y))

    def union(self, other):
        """The smallest rectangle that holds both."""
        x, y = min(self.x, other.x), min(self.y, other.y)
        return Rect(x, y, max(self.right, other.right) - x, max(self.bottom, other.bottom) - y)

    def __str__(self):
        return f"{self.width}x{self.height}+{self.x}+{self.y}"


class Image:
    """RGB pixels, three bytes each, row by row; origin says where on the screen the top left pixel was."""

    def __init__(self, width, height, rgb, origin=(0, 0)):
        self.width = width
        self.height = height
        self.rgb = bytes(rgb)
        self.origin = origin

    @classmethod
    def from_bgrx(cls, width, height, raw, stride, origin=(0, 0)):
        """An image from 32-bit little-endian pixels (blue, green, red, unused), stride bytes a row."""
        rows = bytearray(width * height * 3)
        for y in range(height):
            row = raw[y * stride:y * stride + width * 4]
            out = y * width * 3
            rows[out + 0:out + width * 3:3] = row[2::4]
            rows[out + 1:out + width * 3:3] = row[1::4]
            rows[out + 2:out + width * 3:3] = row[0::4]
        return cls(width, height, rows, origin)

    @property
    def rect(self):
        """Where the image was on the screen."""
        return Rect(self.origin[0], self.origin[1], self.width, self.height)

    def pixel(self, x, y):
        """The (r, g, b) at screen position x, y."""
        at = ((y - self.origin[1]) * self.width + (x - self.origin[0])) * 3
        return tuple(self.rgb[at:at + 3])

    def crop(self, rect):
        """The part of the image inside rect (screen positions)."""
        rect = rect.clipped(self.rect)
        left = (rect.x - self.origin[0]) * 3
        rows = b"".join(self.rgb[((y - self.origin[1]) * self.width) * 3 + left:
                                 ((y - self.origin[1]) * self.width) * 3 + left + rect.width * 3]
                        for y in range(rect.y, rect.bottom))
        return Image(rect.width, rect.height, rows, (rect.x, rect.y))

    def masked(self, rects):
        """A copy with every pixel inside rects (screen positions) black: what a comparison should ignore."""
        rgb = bytearray(self.rgb)
        for rect in rects:
            part = rect.clipped(self.rect)
            for y in range(part.y, part.bottom):
                start = ((y - self.origin[1]) * self.width + part.x - self.origin[0]) * 3
                rgb[start:start + part.width * 3] = bytes(part.width * 3)
        return Image(self.width, self.height, rgb, self.origin)

    def same_pixels(self, other):
        """Whether both have the same size and the same pixels, wherever they were taken."""
        return (self.width, self.height, self.rgb) == (other.width, other.height, other.rgb)

    def trimmed(self, near=8):
        """The part inside the edges that are of about the colour of the bottom right corner: the thing a
        picture cut larger than it shows, on a nearly plain background."""
        corner = self.pixel(self.rect.right - 1, self.rect.bottom - 1)
        return self.crop(self.drawn_rect(self.rect, corner, near) or self.rect)

    def same_inside(self, other, margin=12, slack=4):
        """Whether both are of a size within slack pixels and show the same picture margin pixels in from their
        edges, up to a shift of at most slack pixels: for two pictures of one thing that a host blends into
        whatever lies behind it, so that where its edges end, and where the picture was cut, depend on the
        place it was drawn."""
        if abs(self.width - other.width) > slack or abs(self.height - other.height) > slack:
            return False
        inset = margin + slack
        width, height = min(self.width, other.width) - 2 * inset, min(self.height, other.height) - 2 * inset
        if width <= 0 or height <= 0:
            return False

        def inner(image, x, y):
            return image.crop(Rect(image.origin[0] + x, image.origin[1] + y, width, height)).rgb

        mine = inner(self, inset, inset)
        return any(mine == inner(other, inset + dx, inset + dy)
                   for dy in range(-slack, slack + 1) for dx in range(-slack, slack + 1))

    def changed(self, other, within=None):
        """The screen positions, inside within (default: all), where other (taken of the same place) differs."""
        area = (within or self.rect).clipped(self.rect).clipped(other.rect)
        mine, theirs = self.crop(area), other.crop(area)
        row_bytes = area.width * 3
        points = []
        for row in range(area.height):
            start = row * row_bytes
            if mine.rgb[start:start + row_bytes] == theirs.rgb[start:start + row_bytes]:
                continue
            for column in range(area.width):
                at = start + column * 3
                if mine.rgb[at:at + 3] != theirs.rgb[at:at + 3]:
                    points.append((area.x + column, area.y + row))
        return points

    def changed_rect(self, other, within=None):
        """The smallest rectangle (screen positions) inside within that holds every pixel where other differs;
        None when none does. Fast on large changes, unlike changed()."""
        area = (within or self.rect).clipped(self.rect).clipped(other.rect)
        mine, theirs = self.crop(area), other.crop(area)
        row_bytes = area.width * 3
        found = None
        for row in range(area.height):
            start = row * row_bytes
            a, b = mine.rgb[start:start + row_bytes], theirs.rgb[start:start + row_bytes]
            if a == b:
                continue
            first, last = _first_difference(a, b), len(a) - _first_difference(a[::-1], b[::-1]) - 1
            rect = Rect(area.x + first // 3, area.y + row, last // 3 - first // 3 + 1, 1)
            found = rect if found is None else found.union(rect)
        return found

    def flat(self):
        """Whether every pixel has the same colour (an image of nothing drawn yet)."""
        return self.rgb == self.rgb[:3] * (self.width * self.height)

    def commonest(self, rect=None):
        """The colour most pixels inside rect (default: all) have."""
        part = self.crop(rect) if rect else self
        return tuple(Counter(part.rgb[at:at + 3] for at in range(0, len(part.rgb), 3)).most_common(1)[0][0])

    def drawn_rect(self, rect, background, near=0):
        """The smallest rectangle inside rect holding every pixel that is not the background colour, nor within
        near of it in each channel; None if none."""
        part = self.crop(rect)
        found = None
        for y in range(part.height):
            for x in range(part.width):
                at = (y * part.width + x) * 3
                if any(abs(channel - wanted) > near for channel, wanted in zip(part.rgb[at:at + 3], background)):
                    point = Rect(part.origin[0] + x, part.origin[1] + y, 1, 1)
                    found = point if found is None else found.union(point)
        return found

    def png(self):
        """The image as PNG file bytes."""
        rows = b"".join(b"\0" + self.rgb[y * self.width * 3:(y + 1) * self.width * 3] for y in range(self.height))

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
                + chunk(b"IEND", b""))

    def save(self, path):
        """Writes the image as a PNG file."""
        with open(path, "wb") as out:
            out.write(self.png())


def _first_difference(a, b):
    """The index of the first byte where a and b (of the same length, not equal) differ, by halving."""
    low, high = 0, len(a)
    while high - low > 1:
        middle = (low + high) // 2
        if a[low:middle] != b[low:middle]:
            high = middle
        else:
            low = middle
    return low


def bounding_rect(points):
    """The smallest rectangle that holds every (x, y) of points (not empty)."""
    xs, ys = [x for x, _ in points], [y for _, y in points]
    return Rect(min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1)


def relative_luminance(rgb):
    """WCAG 2 relative luminance of an sRGB colour given as 0-255 channels: 0 for black, 1 for white."""
    def linear(channel):
        value = channel / 255
        return value / 12.92 if value <= 0.04045 else ((value + 0.055) / 1.055) ** 2.4

    red, green, blue = (linear(channel) for channel in rgb)
    return 0.2126 * red + 0.7152 * green + 0.0722 * blue


def contrast_ratio(first, second):
    """WCAG 2 contrast ratio of two sRGB colours, from 1 (the same) to 21 (black on white)."""
    lighter, darker = sorted((relative_luminance(first), relative_luminance(second)), reverse=True)
    return (lighter + 0.05) / (darker + 0.05)


@dataclass
class GlyphContrast:
    """How an icon stands out from what is around it."""

    ratio: float
    glyph: tuple
    background: tuple

    def __str__(self):
        return f"{self.ratio:.2f}:1, glyph #{bytes(self.glyph).hex()} on #{bytes(self.background).hex()}"


# The share of an icon's drawn pixels that must reach a contrast for the glyph to count as having it: enough
# for the strokes or an outline that carries the shape, not the few most extreme pixels of its antialiasing.
GLYPH_SHARE = 0.2


def glyph_contrast(image, icon, ring=2):
    """The contrast of the icon at rect icon against the panel around it: the panel is the commonest colour
    of a ring of ring pixels just outside icon; the glyph is what a fifth of the icon's other pixels reach."""
    outside = image.crop(icon.grown(ring))
    around = Counter(outside.pixel(x, y) for x in range(outside.rect.x, outside.rect.right)
                     for y in range(outside.rect.y, outside.rect.bottom)
                     if not (icon.x <= x < icon.right and icon.y <= y < icon.bottom))
    background = around.most_common(1)[0][0]
    inside = image.crop(icon)
    drawn = [inside.pixel(x, y) for x in range(icon.x, icon.right) for y in range(icon.y, icon.bottom)]
    drawn = sorted((pixel for pixel in drawn if pixel != background),
                   key=lambda pixel: contrast_ratio(pixel, background), reverse=True)
    if not drawn:
        return GlyphContrast(1.0, background, background)
    glyph = drawn[max(0, int(len(drawn) * GLYPH_SHARE) - 1)]
    return GlyphContrast(contrast_ratio(glyph, background), glyph, background)


def edge_sharpness(image, icon):
    """How sharp the icon's edges are, from 1 (every edge goes from panel to glyph between two neighbouring
    pixels) down towards 0 (edges smeared over many): the neighbours' differences in luminance, each weighed
    by itself, against the icon's full contrast with the panel. An edge spread over n pixels scores 1/n; an
    icon drawn small and stretched to twice its size scores about half of the same icon drawn at that size."""
    background = relative_luminance(glyph_contrast(image, icon).background)
    area = image.crop(icon.grown(1))
    rows = [[relative_luminance(area.pixel(x, y)) for x in range(area.rect.x, area.rect.right)]
            for y in range(area.rect.y, area.rect.bottom)]
    full = max((abs(value - background) for row in rows for value in row), default=0)
    steps = [abs(row[x + 1] - row[x]) for row in rows for x in range(len(row) - 1)]
    steps += [abs(below[x] - above[x]) for above, below in zip(rows, rows[1:]) for x in range(len(above))]
    total = sum(steps)
    if not full or not total:
        return 0.0
    return sum(step * step for step in steps) / total / full


def image_from_png(data, origin=(0, 0)):
    """An Image from PNG file bytes: 8-bit RGB or RGBA, not interlaced, as compositors write screenshots (the
    alpha channel is dropped). Raises ValueError for any other PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    at, header, compressed = 8, None, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            compressed += body
        elif kind == b"IEND":
            break
    if header is None:
        raise ValueError("a PNG file without a header")
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        raise ValueError(f"a PNG file of a kind not read here (depth {depth}, colour type {colour})")
    raw = zlib.decompress(compressed)
    stride = width * channels
    previous = bytearray(stride)
    rgb = bytearray()
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            left = line[x - channels] if x >= channels else 0
            up = previous[x]
            corner = previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + left) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + up) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                guess = left + up - corner
                nearest = min((abs(guess - left), 0, left), (abs(guess - up), 1, up), (abs(guess - corner), 2, corner))
                line[x] = (line[x] + nearest[2]) & 0xFF
        previous = line
        if channels == 3:
            rgb += line
        else:
            pixels = bytearray(width * 3)
            pixels[0::3], pixels[1::3], pixels[2::3] = line[0::4], line[1::4], line[2::4]
            rgb += pixels
    return Image(width, height, rgb, origin)

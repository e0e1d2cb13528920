#!/usr/bin/env python3
"""Builds the bundled example scene: a windmill whose sails turn, with its two
textures. Writes examples/windmill/windmill.scene.json, wood.png and sail.png.

The scene is Z-up. Transforms are row-vector matrices (rows: x, y, z axes, then
the translation), relative to the parent node. The stand-in host does not
interpolate, so every animated transform has a key at every frame."""
import json
import math
import os
import struct
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "windmill")
TICKS = 160
FRAMES = 60


def write_png(path, width, height, pixel):
    rows = b""
    for y in range(height):
        rows += b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(width))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def wood(x, y):
    # Planks: darker seams every 8 rows, grain along x.
    seam = y % 8 == 0
    grain = int(12 * math.sin(x * 0.7 + (y // 8) * 1.3))
    base = (150, 100, 60) if not seam else (90, 60, 35)
    return tuple(max(0, min(255, c + grain)) for c in base)


def sail(x, y):
    # Canvas with a red stripe down the middle and a frame.
    if x < 2 or x > 29 or y < 2 or y > 29:
        return (80, 50, 30)
    if 13 <= x <= 18:
        return (190, 40, 40)
    return (235, 228, 205)


def r(v):
    return round(v, 6)


def matrix(rot=None, t=(0, 0, 0)):
    rot = rot or [[1, 0, 0], [0, 1, 0], [0, 0, 1]]
    return [r(v) for row in rot for v in row] + [r(v) for v in t]


def rot_y(deg):
    a = math.radians(deg)
    c, s = math.cos(a), math.sin(a)
    return [[c, 0, -s], [0, 1, 0], [s, 0, c]]


def rot_z(deg):
    a = math.radians(deg)
    c, s = math.cos(a), math.sin(a)
    return [[c, s, 0], [-s, c, 0], [0, 0, 1]]


def box(x0, x1, y0, y1, z0, z1, top_scale=1.0):
    """A box (optionally tapered towards its top) with one picture per side."""
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    def corner(x, y, z):
        k = top_scale if z == z1 else 1.0
        return [r(cx + (x - cx) * k), r(cy + (y - cy) * k), r(z)]
    verts = [corner(x, y, z) for z in (z0, z1) for y in (y0, y1) for x in (x0, x1)]
    # Quads as vertex indices, counter-clockwise seen from outside.
    quads = [(0, 1, 5, 4), (1, 3, 7, 5), (3, 2, 6, 7), (2, 0, 4, 6), (4, 5, 7, 6), (2, 3, 1, 0)]
    faces, tverts, tvfaces = [], [], []
    for q in quads:
        base = len(tverts)
        tverts += [[0, 0], [1, 0], [1, 1], [0, 1]]
        faces += [[q[0], q[1], q[2]], [q[0], q[2], q[3]]]
        tvfaces += [[base, base + 1, base + 2], [base, base + 2, base + 3]]
    return {"verts": verts, "faces": faces, "tverts": tverts, "tvfaces": tvfaces}


def material(picture):
    return {"kind": "standard", "diffuse": {"kind": "bitmap", "file": picture}}


def keyed(fn):
    return {"keys": [{"time": f * TICKS, "value": fn(f)} for f in range(FRAMES)]}


def hub_angle(f):
    # idle: a slow drift; spin: steady; gust: fast.
    angle = 0.0
    for k in range(f):
        angle += 3.0 if k < 20 else (12.0 if k < 40 else 24.0)
    return angle


def cap_yaw(f):
    return 0.0 if f < 40 else 8.0 * math.sin((f - 40) * 0.45)


def blade(i):
    return {
        "name": f"Sail{i + 1}",
        "transform": matrix(rot_y(90 * i)),
        "object": {"kind": "mesh", "mesh": box(-0.35, 0.35, -0.05, 0.05, 0.3, 4.2)},
        "material": material("sail.png"),
    }


def main():
    os.makedirs(HERE, exist_ok=True)
    write_png(os.path.join(HERE, "wood.png"), 32, 64, wood)
    write_png(os.path.join(HERE, "sail.png"), 32, 32, sail)
    hub = {
        "name": "Hub",
        "transform": keyed(lambda f: matrix(rot_y(hub_angle(f)), (0, -1.15, 0.5))),
        "object": {"kind": "mesh", "mesh": box(-0.3, 0.3, -0.3, 0.3, -0.3, 0.3)},
        "material": material("wood.png"),
        "children": [blade(i) for i in range(4)],
    }
    cap = {
        "name": "Cap",
        "transform": keyed(lambda f: matrix(rot_z(cap_yaw(f)), (0, 0, 6))),
        "object": {"kind": "mesh", "mesh": box(-1.0, 1.0, -1.0, 1.0, 0.0, 1.2, top_scale=0.5)},
        "material": material("wood.png"),
        "children": [hub],
    }
    tower = {
        "name": "Tower",
        "object": {"kind": "mesh", "mesh": box(-1.2, 1.2, -1.2, 1.2, 0.0, 6.0, top_scale=0.7)},
        "material": material("wood.png"),
        "children": [cap],
    }
    names = {
        "name": "FrameNames",
        "hidden": True,
        "object": {"kind": "helper"},
        "noteTracks": [[{"time": 0, "text": "idle"}, {"time": 20 * TICKS, "text": "spin"},
                        {"time": 40 * TICKS, "text": "gust"}]],
    }
    scene = {
        "version": 1,
        "ticksPerFrame": TICKS,
        "animRange": {"start": 0, "end": (FRAMES - 1) * TICKS},
        "nodes": [tower, names],
    }
    with open(os.path.join(HERE, "windmill.scene.json"), "w") as f:
        json.dump(scene, f, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the big benchmark scene: 64 meshes of 32 x 32 vertices (65,536
vertices, 123,008 triangles), each a bulging patch that turns and bobs with a
transform keyed at every one of 100 frames, textured by four inline pictures.
Exported in the 8-bit variant it makes a model file of about 28 MB.

Usage: make_big_scene.py OUT.scene.json
"""
import json
import math
import sys

MESHES = 64
SIDE = 32  # vertices per row and per column of each mesh
FRAMES = 100
TICKS = 160


def number(v):
    # Six significant digits keep the file small; the loader rounds to float.
    return float(f"{v:.6g}")


def patch(m):
    """A piece of a sphere, dented differently per mesh, as a grid of quads."""
    verts, tverts, faces = [], [], []
    dent = 0.15 + 0.1 * (m % 5)
    for r in range(SIDE):
        lat = math.pi * (0.1 + 0.8 * r / (SIDE - 1))
        for c in range(SIDE):
            lon = 1.8 * math.pi * c / (SIDE - 1)
            radius = 1.0 + dent * math.sin(3 * lat) * math.cos(2 * lon + m)
            verts.append([number(radius * math.sin(lat) * math.cos(lon)),
                          number(radius * math.sin(lat) * math.sin(lon)),
                          number(radius * math.cos(lat))])
            tverts.append([number(c / (SIDE - 1)), number(r / (SIDE - 1))])
    for r in range(SIDE - 1):
        for c in range(SIDE - 1):
            a = r * SIDE + c
            faces.append([a, a + 1, a + SIDE + 1])
            faces.append([a, a + SIDE + 1, a + SIDE])
    return {"verts": verts, "faces": faces, "tverts": tverts, "tvfaces": faces}


def transform(m, f):
    """Turns about a tilted axis and bobs; rows are the x, y, z axes, then the translation."""
    angle = 0.05 * f * (1 + m % 3) + m
    tilt = 0.3 * (m % 4)
    ca, sa, ct, st = math.cos(angle), math.sin(angle), math.cos(tilt), math.sin(tilt)
    rows = [[ca, sa * ct, sa * st], [-sa, ca * ct, ca * st], [0.0, -st, ct]]
    move = [3.0 * (m % 8), 3.0 * (m // 8), 0.5 * math.sin(0.2 * f + m)]
    return [number(v) for row in rows + [move] for v in row]


def scene():
    images = {f"skin{i}.png": {"width": 64, "height": 64, "fill": [65535 * (i & 1), 40000, 65535 * (i >> 1), 65535]}
              for i in range(4)}
    nodes = []
    for m in range(MESHES):
        nodes.append({
            "name": f"Patch{m}",
            "object": {"kind": "mesh", "mesh": patch(m)},
            "transform": {"keys": [{"time": f * TICKS, "value": transform(m, f)} for f in range(FRAMES)]},
            "material": {"kind": "standard", "diffuse": {"kind": "bitmap", "file": f"skin{m % 4}.png"}},
        })
    return {"version": 1, "ticksPerFrame": TICKS, "animRange": {"start": 0, "end": (FRAMES - 1) * TICKS},
            "images": images, "nodes": nodes}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "w") as out:
        json.dump(scene(), out, separators=(",", ":"))


if __name__ == "__main__":
    main()

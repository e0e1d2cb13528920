#!/usr/bin/env python3
"""Builds the bundled interchange-format examples that `quorvex export` imports:

examples/robot/robot.gltf + robot.png
    A little robot (body, neck, head) welded into one skinned mesh on a
    three-joint skeleton (Base -> Neck -> Head), standing on a plain, unskinned
    plate. Three clips: "wave" (the neck bends 90 degrees to the side and back,
    LINEAR rotation), "nod" (the head snaps forward and back, STEP rotation) and
    "bob" (the whole robot hops, CUBICSPLINE translation). Buffers are embedded
    as base64 data URIs; the texture is the PNG beside the file.

examples/crate/crate.obj + crate.mtl + crate.png
    A wooden crate: one box unwrapped as a cross, so its edges are UV seams.

glTF is Y-up with v running down the picture; OBJ is Y-up with v running up.
Every key time is exactly representable in single precision, so that the
frames at 30 frames per second fall on the keys they are meant to hit.
Standard library only; the output is the same on every run."""
import base64
import json
import math
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_example import write_png  # noqa: E402  the PNG writer both generators share

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")


# ---------------------------------------------------------------------------
# Pictures

# The robot's picture is 60 x 44 (deliberately not a multiple of 8 wide), four
# 30 x 22 regions: face | chest / metal | plate.
ROBOT_W, ROBOT_H = 60, 44
REGION_W, REGION_H = 30, 22


def robot_pixel(x, y):
    rx, ry = x % REGION_W, y % REGION_H
    border = rx == 0 or ry == 0 or rx == REGION_W - 1 or ry == REGION_H - 1
    if x < REGION_W and y < REGION_H:  # face: two eyes and a mouth on light grey
        if border:
            return (70, 70, 80)
        for ex in (9, 20):
            if (rx - ex) ** 2 + (ry - 8) ** 2 <= 9:
                return (30, 140, 255) if (rx - ex) ** 2 + (ry - 8) ** 2 > 1 else (250, 250, 255)
        if 16 <= ry <= 17 and 8 <= rx <= 21:
            return (200, 30, 30)
        return (215, 215, 205)
    if y < REGION_H:  # chest: orange with a hazard stripe and two bolts
        if border:
            return (90, 50, 20)
        if 13 <= ry <= 17:
            return (20, 20, 20) if ((rx + ry) // 3) % 2 else (250, 210, 0)
        if ry in (4, 5) and rx in (4, 5, 24, 25):
            return (60, 60, 60)
        return (235, 120, 30)
    if x < REGION_W:  # metal: grey panels with rivets
        if border or rx == 15:
            return (60, 64, 70)
        if ry in (3, 18) and rx in (3, 12, 18, 27):
            return (200, 200, 210)
        return (140, 146, 155)
    # plate: a green and white checkerboard
    return (40, 120, 60) if ((rx // 5) + (ry // 5)) % 2 else (230, 235, 225)


def crate_pixel(x, y):
    # 64 x 48: a cube net of 16 x 16 squares; every square is a crate side with
    # a dark frame, planks and a diagonal brace.
    sx, sy = x % 16, y % 16
    if sx < 2 or sy < 2 or sx > 13 or sy > 13:
        return (95, 60, 30)
    if abs(sx - sy) <= 1:
        return (120, 78, 40)
    grain = 10 if (sy // 4) % 2 else -6
    if sy % 4 == 0:
        return (140, 95, 50)
    return (200 + grain, 150 + grain, 85 + grain)


# ---------------------------------------------------------------------------
# Geometry (Y-up)

def r6(v):
    return round(v, 6)


def box_faces(x0, x1, y0, y1, z0, z1):
    """The six sides of a box as (name, bottom-left, right edge, up edge), seen
    from outside so that bottom-left, bottom-right, top-right, top-left run
    counter-clockwise."""
    dx, dy, dz = x1 - x0, y1 - y0, z1 - z0
    return [
        ("front", (x0, y0, z1), (dx, 0, 0), (0, dy, 0)),
        ("back", (x1, y0, z0), (-dx, 0, 0), (0, dy, 0)),
        ("right", (x1, y0, z1), (0, 0, -dz), (0, dy, 0)),
        ("left", (x0, y0, z0), (0, 0, dz), (0, dy, 0)),
        ("top", (x0, y1, z1), (dx, 0, 0), (0, 0, -dz)),
        ("bottom", (x0, y0, z0), (dx, 0, 0), (0, 0, dz)),
    ]


def quad_corners(origin, right, up):
    def at(a, b):
        return tuple(r6(origin[i] + a * right[i] + b * up[i]) for i in range(3))
    return [at(0, 0), at(1, 0), at(1, 1), at(0, 1)]


def region_uvs(col, row):
    """glTF texture coordinates (v down) of a region's corners in the order
    bottom-left, bottom-right, top-right, top-left."""
    u0, u1 = col * REGION_W / ROBOT_W, (col + 1) * REGION_W / ROBOT_W
    v0, v1 = row * REGION_H / ROBOT_H, (row + 1) * REGION_H / ROBOT_H
    return [(u0, v1), (u1, v1), (u1, v0), (u0, v0)]


FACE, CHEST, METAL, PLATE = (0, 0), (1, 0), (0, 1), (1, 1)

# Joints: Base at the origin, Neck 1 above it, Head 1 above the neck.
BASE, NECK, HEAD = 0, 1, 2
JOINT_AT = [(0.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 2.0, 0.0)]
# (joint, box, picture of the front side); the other sides are metal.
ROBOT_BOXES = [
    (BASE, (-0.4, 0.4, 0.0, 1.0, -0.3, 0.3), CHEST),
    (NECK, (-0.2, 0.2, 1.0, 2.0, -0.2, 0.2), METAL),
    (HEAD, (-0.35, 0.35, 2.0, 2.6, -0.3, 0.3), FACE),
]
PLATE_BOX = (-0.8, 0.8, -0.15, 0.0, -0.8, 0.8)


def build_mesh(boxes):
    """boxes: (joint or None, box, front picture, top picture). Four corners per
    side, so each side has its own texture coordinates (the seams)."""
    positions, uvs, joints, indices = [], [], [], []
    for joint, box, front, top in boxes:
        for name, origin, right, up in box_faces(*box):
            picture = front if name == "front" else top if name == "top" else METAL
            base = len(positions)
            positions += quad_corners(origin, right, up)
            uvs += region_uvs(*picture)
            joints += [joint] * 4
            indices += [base, base + 1, base + 2, base, base + 2, base + 3]
    return positions, uvs, joints, indices


# ---------------------------------------------------------------------------
# glTF

class Buffer:
    def __init__(self):
        self.data = b""
        self.views = []
        self.accessors = []

    def add(self, fmt, values, type_, component, count, target=None, minmax=None):
        while len(self.data) % 4:
            self.data += b"\x00"
        raw = struct.pack("<" + fmt * len(values), *values)
        view = {"buffer": 0, "byteOffset": len(self.data), "byteLength": len(raw)}
        if target:
            view["target"] = target
        self.data += raw
        self.views.append(view)
        accessor = {"bufferView": len(self.views) - 1, "componentType": component, "count": count, "type": type_}
        if minmax:
            accessor["min"], accessor["max"] = minmax
        self.accessors.append(accessor)
        return len(self.accessors) - 1

    def floats(self, rows, type_, target=None, bounds=False):
        flat = [v for row in rows for v in row]
        minmax = None
        if bounds:
            width = len(rows[0])
            minmax = ([min(r[i] for r in rows) for i in range(width)], [max(r[i] for r in rows) for i in range(width)])
        return self.add("f", flat, type_, 5126, len(rows), target, minmax)

    def scalars(self, values):
        return self.add("f", values, "SCALAR", 5126, len(values), None, ([min(values)], [max(values)]))


def rot_x(deg):
    h = math.radians(deg) / 2
    return (r6(math.sin(h)), 0.0, 0.0, r6(math.cos(h)))


def rot_z(deg):
    h = math.radians(deg) / 2
    return (0.0, 0.0, r6(math.sin(h)), r6(math.cos(h)))


def make_robot(folder):
    write_png(os.path.join(folder, "robot.png"), ROBOT_W, ROBOT_H, robot_pixel)
    buf = Buffer()

    pos, uv, jnt, idx = build_mesh([(j, box, front, METAL) for j, box, front in ROBOT_BOXES])
    robot_prim = {
        "attributes": {
            "POSITION": buf.floats(pos, "VEC3", 34962, bounds=True),
            "TEXCOORD_0": buf.floats(uv, "VEC2", 34962),
            "JOINTS_0": buf.add("B", [v for j in jnt for v in (j, 0, 0, 0)], "VEC4", 5121, len(jnt), 34962),
            "WEIGHTS_0": buf.floats([(1.0, 0.0, 0.0, 0.0)] * len(jnt), "VEC4", 34962),
        },
        "indices": buf.add("H", idx, "SCALAR", 5123, len(idx), 34963),
        "material": 0,
    }
    pos, uv, _, idx = build_mesh([(None, PLATE_BOX, METAL, PLATE)])
    plate_prim = {
        "attributes": {
            "POSITION": buf.floats(pos, "VEC3", 34962, bounds=True),
            "TEXCOORD_0": buf.floats(uv, "VEC2", 34962),
        },
        "indices": buf.add("H", idx, "SCALAR", 5123, len(idx), 34963),
        "material": 0,
    }
    # Inverse bind matrices (column-major): the joints stand at JOINT_AT in the
    # bind pose, unrotated, so each inverse is a translation back to the origin.
    ibm = []
    for x, y, z in JOINT_AT:
        ibm += [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -x, -y, -z, 1]
    ibm_accessor = buf.add("f", ibm, "MAT4", 5126, len(JOINT_AT))

    # Node indices: 0 Robot (skinned mesh), 1 Base, 2 Neck, 3 Head, 4 Plate.
    animations = []

    # wave: the neck leans 90 degrees to the robot's right and comes back.
    times = buf.scalars([0.0, 0.5, 1.0])
    values = buf.floats([rot_z(0), rot_z(90), rot_z(0)], "VEC4")
    animations.append({"name": "wave",
                       "samplers": [{"input": times, "output": values, "interpolation": "LINEAR"}],
                       "channels": [{"sampler": 0, "target": {"node": 2, "path": "rotation"}}]})

    # nod: the head snaps forward by 35 degrees and back, held between keys.
    times = buf.scalars([0.0, 0.25, 0.5, 0.75, 1.25])
    values = buf.floats([rot_x(0), rot_x(35), rot_x(0), rot_x(35), rot_x(0)], "VEC4")
    animations.append({"name": "nod",
                       "samplers": [{"input": times, "output": values, "interpolation": "STEP"}],
                       "channels": [{"sampler": 0, "target": {"node": 3, "path": "rotation"}}]})

    # bob: a hop 0.4 up. Cubic spline keys are (in-tangent, value, out-tangent);
    # the take-off leaves at 1.6 units per second, the top and the landing are
    # flat.
    times = buf.scalars([0.0, 0.5, 0.75])
    values = buf.floats([(0, 0, 0), (0, 0, 0), (0, 1.6, 0),
                         (0, 0, 0), (0, 0.4, 0), (0, 0, 0),
                         (0, 0, 0), (0, 0, 0), (0, 0, 0)], "VEC3")
    animations.append({"name": "bob",
                       "samplers": [{"input": times, "output": values, "interpolation": "CUBICSPLINE"}],
                       "channels": [{"sampler": 0, "target": {"node": 1, "path": "translation"}}]})

    doc = {
        "asset": {"version": "2.0", "generator": "scripts/make_import_examples.py"},
        "scene": 0,
        "scenes": [{"name": "Robot", "nodes": [0, 1, 4]}],
        "nodes": [
            {"name": "Robot", "mesh": 0, "skin": 0},
            {"name": "Base", "children": [2]},
            {"name": "Neck", "translation": [0.0, 1.0, 0.0], "children": [3]},
            {"name": "Head", "translation": [0.0, 1.0, 0.0]},
            {"name": "Plate", "mesh": 1},
        ],
        "skins": [{"name": "Skeleton", "joints": [1, 2, 3], "skeleton": 1, "inverseBindMatrices": ibm_accessor}],
        "meshes": [{"name": "Robot", "primitives": [robot_prim]}, {"name": "Plate", "primitives": [plate_prim]}],
        "materials": [{"name": "Painted",
                       "pbrMetallicRoughness": {"baseColorTexture": {"index": 0},
                                                "metallicFactor": 0.0, "roughnessFactor": 0.8}}],
        "textures": [{"source": 0, "sampler": 0}],
        "samplers": [{"magFilter": 9728, "minFilter": 9728}],
        "images": [{"uri": "robot.png"}],
        "animations": animations,
        "accessors": buf.accessors,
        "bufferViews": buf.views,
        "buffers": [{"byteLength": len(buf.data),
                     "uri": "data:application/octet-stream;base64," + base64.b64encode(buf.data).decode("ascii")}],
    }
    with open(os.path.join(folder, "robot.gltf"), "w") as f:
        json.dump(doc, f, indent=1)
        f.write("\n")


# ---------------------------------------------------------------------------
# OBJ

def make_crate(folder):
    write_png(os.path.join(folder, "crate.png"), 64, 48, crate_pixel)
    with open(os.path.join(folder, "crate.mtl"), "w") as f:
        f.write("# Wooden crate\nnewmtl Crate\nKa 1 1 1\nKd 1 1 1\nKs 0 0 0\nmap_Kd crate.png\n")

    # Corners of the unit crate standing on the ground: x, z in -0.5..0.5, y in 0..1.
    corners = [(x, y, z) for y in (0.0, 1.0) for z in (-0.5, 0.5) for x in (-0.5, 0.5)]
    index = {c: i + 1 for i, c in enumerate(corners)}
    # Cube net on a 4 x 3 grid of squares (row 0 at the picture's top):
    #         [top]
    #  [left][front][right][back]
    #         [bottom]
    # Texture vertices sit on the grid's points; OBJ's v runs up the picture.
    grid = {}

    def vt(col, row):
        if (col, row) not in grid:
            grid[(col, row)] = len(grid) + 1
        return grid[(col, row)]

    squares = {"top": (1, 0), "left": (0, 1), "front": (1, 1), "right": (2, 1), "back": (3, 1), "bottom": (1, 2)}
    faces = []
    for name, origin, right, up in box_faces(-0.5, 0.5, 0.0, 1.0, -0.5, 0.5):
        col, row = squares[name]
        quad = quad_corners(origin, right, up)
        # bottom-left, bottom-right, top-right, top-left of the square
        square = [(col, row + 1), (col + 1, row + 1), (col + 1, row), (col, row)]
        faces.append([(index[tuple(float(v) for v in q)], vt(*s)) for q, s in zip(quad, square)])

    lines = ["# Wooden crate: one box, unwrapped as a cross", "mtllib crate.mtl", "o Crate"]
    lines += ["v %g %g %g" % c for c in corners]
    for (col, row), _ in sorted(grid.items(), key=lambda kv: kv[1]):
        lines.append("vt %g %g" % (col / 4, 1 - row / 3))
    lines += ["usemtl Crate", "s off"]
    lines += ["f " + " ".join("%d/%d" % corner for corner in face) for face in faces]
    with open(os.path.join(folder, "crate.obj"), "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    for name, make in (("robot", make_robot), ("crate", make_crate)):
        folder = os.path.join(ROOT, name)
        os.makedirs(folder, exist_ok=True)
        make(folder)


if __name__ == "__main__":
    main()

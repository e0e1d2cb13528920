#!/usr/bin/env python3
"""Writes the scenes that measure how depth, size and sharing cost:

  skinned OUT.gltf [--side 224] [--frames 100]
      A skinned grid of side x side vertices (224: 50,176) on two joints, the
      upper joint turning over `frames` frames at 30 frames per second, with
      texture coordinates. Its buffer is OUT.bin beside it.
  gltf-chain OUT.gltf DEPTH [--hidden]
      DEPTH nodes, each the only child of the one before; the deepest carries
      one triangle. --hidden hides the top node (and so the whole chain) and
      adds a visible triangle beside it.
  gltf-cycle OUT.gltf
      A scene with one triangle, and beside it three nodes that are each
      other's parents, which no scene lists.
  scene-chain OUT.scene.json DEPTH FRAMES / scene-flat OUT.scene.json COUNT FRAMES
      Scene files with COUNT (DEPTH) nodes, each a quad with a transform keyed
      at every frame: all at the top level, or each the child of the one before.
  scene-keyed OUT.scene.json MESHES SIDE FRAMES
      A scene file of MESHES grids of SIDE x SIDE vertices whose vertices are
      keyed at every frame (a ripple): what loading a scene file costs.

Standard library only; the output is the same on every run."""
import json
import math
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from make_example import write_png  # noqa: E402  the PNG writer the examples use


def write_gltf(path, doc, binary):
    # Every mesh wears one small checked picture beside the file.
    picture = os.path.join(os.path.dirname(os.path.abspath(path)), "checks.png")
    write_png(picture, 8, 8, lambda x, y: (255, 255, 255) if (x + y) % 2 else (40, 80, 160))
    doc["images"] = [{"uri": "checks.png"}]
    doc["textures"] = [{"source": 0}]
    doc["materials"] = [{"pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}}]
    for mesh in doc.get("meshes", []):
        for prim in mesh["primitives"]:
            prim["material"] = 0
    bin_name = os.path.splitext(os.path.basename(path))[0] + ".bin"
    doc["buffers"] = [{"byteLength": len(binary), "uri": bin_name}]
    with open(os.path.join(os.path.dirname(os.path.abspath(path)), bin_name), "wb") as f:
        f.write(binary)
    with open(path, "w") as f:
        json.dump(doc, f, separators=(",", ":"))


class Buffer:
    def __init__(self):
        self.data = bytearray()
        self.views = []
        self.accessors = []

    def accessor(self, fmt, values, comps, component_type, type_name, bounds=False):
        while len(self.data) % 4:
            self.data.append(0)
        raw = struct.pack("<%d%s" % (len(values), fmt), *values)
        self.views.append({"buffer": 0, "byteOffset": len(self.data), "byteLength": len(raw)})
        self.data += raw
        acc = {"bufferView": len(self.views) - 1, "componentType": component_type,
               "count": len(values) // comps, "type": type_name}
        if bounds:
            acc["min"] = [min(values[k::comps]) for k in range(comps)]
            acc["max"] = [max(values[k::comps]) for k in range(comps)]
        self.accessors.append(acc)
        return len(self.accessors) - 1

    def into(self, doc):
        doc["bufferViews"] = self.views
        doc["accessors"] = self.accessors
        return bytes(self.data)


def triangle_mesh(buf):
    pos = buf.accessor("f", [0, 0, 0, 1, 0, 0, 0, 1, 0], 3, 5126, "VEC3", bounds=True)
    uv = buf.accessor("f", [0, 0, 1, 0, 0, 1], 2, 5126, "VEC2")
    idx = buf.accessor("H", [0, 1, 2], 1, 5123, "SCALAR")
    return {"primitives": [{"attributes": {"POSITION": pos, "TEXCOORD_0": uv}, "indices": idx}]}


def skinned(path, side=224, frames=100):
    buf = Buffer()
    positions, uvs, joints, weights, indices = [], [], [], [], []
    for r in range(side):
        for c in range(side):
            y = r / (side - 1)
            positions += [c / (side - 1) - 0.5, y, 0.0]
            uvs += [c / (side - 1), 1.0 - y]
            joints += [0, 1, 0, 0]
            weights += [1.0 - y, y, 0.0, 0.0]
    for r in range(side - 1):
        for c in range(side - 1):
            a = r * side + c
            indices += [a, a + 1, a + side + 1, a, a + side + 1, a + side]
    attributes = {
        "POSITION": buf.accessor("f", positions, 3, 5126, "VEC3", bounds=True),
        "TEXCOORD_0": buf.accessor("f", uvs, 2, 5126, "VEC2"),
        "JOINTS_0": buf.accessor("H", joints, 4, 5123, "VEC4"),
        "WEIGHTS_0": buf.accessor("f", weights, 4, 5126, "VEC4"),
    }
    idx = buf.accessor("I", indices, 1, 5125, "SCALAR")
    # Column-major inverse bind matrices: the joints sit at y = 0 and y = 0.5.
    ibm = [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1,
           1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -0.5, 0, 1]
    ibm_acc = buf.accessor("f", ibm, 16, 5126, "MAT4")
    times, rotations = [], []
    for f in range(frames):
        times.append(f / 30.0)
        angle = 0.5 * math.sin(2 * math.pi * f / max(frames - 1, 1))
        rotations += [0.0, 0.0, math.sin(angle / 2), math.cos(angle / 2)]
    t_acc = buf.accessor("f", times, 1, 5126, "SCALAR", bounds=True)
    r_acc = buf.accessor("f", rotations, 4, 5126, "VEC4")
    doc = {
        "asset": {"version": "2.0"},
        "scene": 0,
        "scenes": [{"nodes": [0, 1]}],
        "nodes": [{"name": "Sheet", "mesh": 0, "skin": 0},
                  {"name": "Lower", "children": [2]},
                  {"name": "Upper", "translation": [0, 0.5, 0]}],
        "meshes": [{"primitives": [{"attributes": attributes, "indices": idx}]}],
        "skins": [{"joints": [1, 2], "inverseBindMatrices": ibm_acc}],
        "animations": [{"name": "sway", "samplers": [{"input": t_acc, "output": r_acc}],
                        "channels": [{"sampler": 0, "target": {"node": 2, "path": "rotation"}}]}],
    }
    write_gltf(path, doc, buf.into(doc))


def gltf_chain(path, depth, hidden=False):
    buf = Buffer()
    nodes = [{"name": "n%d" % k, "translation": [0, 0.001, 0], "children": [k + 1]} for k in range(depth)]
    del nodes[-1]["children"]
    nodes[-1]["mesh"] = 0
    doc = {"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}], "nodes": nodes,
           "meshes": [triangle_mesh(buf)]}
    if hidden:  # and a triangle beside the chain, so that the export has something to write
        doc["extensionsUsed"] = ["KHR_node_visibility"]
        nodes[0]["extensions"] = {"KHR_node_visibility": {"visible": False}}
        nodes.append({"name": "Shown", "mesh": 0})
        doc["scenes"][0]["nodes"].append(len(nodes) - 1)
    write_gltf(path, doc, buf.into(doc))


def gltf_cycle(path):
    buf = Buffer()
    doc = {"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
           "nodes": [{"name": "Shown", "mesh": 0},
                     {"name": "a", "children": [2]}, {"name": "b", "children": [3]}, {"name": "c", "children": [1]}],
           "meshes": [triangle_mesh(buf)]}
    write_gltf(path, doc, buf.into(doc))


def scene_node(k, frames):
    keys = [{"time": f * 160, "value": [1, 0, 0, 0, 1, 0, 0, 0, 1, 0.01 * math.sin(0.1 * (f + k)), 0.001, 0]}
            for f in range(frames)]
    quad = {"verts": [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]], "faces": [[0, 1, 2], [0, 2, 3]],
            "tverts": [[0, 0], [1, 0], [1, 1], [0, 1]], "tvfaces": [[0, 1, 2], [0, 2, 3]]}
    return {"name": "n%d" % k, "transform": {"keys": keys}, "object": {"kind": "mesh", "mesh": quad},
            "material": {"kind": "standard", "diffuse": {"kind": "bitmap", "file": "checks.png"}}}


def scene_file(path, count, frames, chain):
    write_png(os.path.join(os.path.dirname(os.path.abspath(path)), "checks.png"), 8, 8,
              lambda x, y: (255, 255, 255) if (x + y) % 2 else (40, 80, 160))
    head = {"version": 1, "ticksPerFrame": 160, "animRange": {"start": 0, "end": (frames - 1) * 160}}
    nodes = [json.dumps(scene_node(k, frames), separators=(",", ":")) for k in range(count)]
    if chain:  # written by hand: too deep for the json module's recursion
        text = "".join(n[:-1] + ',"children":[' for n in nodes[:-1]) + nodes[-1] + "]}" * (count - 1)
    else:
        text = ",".join(nodes)
    with open(path, "w") as f:
        f.write(json.dumps(head, separators=(",", ":"))[:-1] + ',"nodes":[' + text + "]}")


def scene_keyed(path, meshes, side, frames):
    write_png(os.path.join(os.path.dirname(os.path.abspath(path)), "checks.png"), 8, 8,
              lambda x, y: (255, 255, 255) if (x + y) % 2 else (40, 80, 160))
    faces = []
    for r in range(side - 1):
        for c in range(side - 1):
            a = r * side + c
            faces += [[a, a + 1, a + side + 1], [a, a + side + 1, a + side]]
    tverts = [[c / (side - 1), r / (side - 1)] for r in range(side) for c in range(side)]
    topology = ',"faces":%s,"tverts":%s,"tvfaces":%s}' % (json.dumps(faces, separators=(",", ":")),
                                                          json.dumps(tverts, separators=(",", ":")),
                                                          json.dumps(faces, separators=(",", ":")))
    nodes = []
    for m in range(meshes):
        keys = []
        for f in range(frames):
            verts = ",".join("[%.6g,%.6g,%.6g]" % (c + m * side, r, 0.25 * math.sin(0.3 * (c + r + f)))
                             for r in range(side) for c in range(side))
            keys.append('{"time":%d,"value":{"verts":[%s]%s}' % (f * 160, verts, topology))
        nodes.append('{"name":"m%d","object":{"kind":"mesh","mesh":{"keys":[%s]}},'
                     '"material":{"kind":"standard","diffuse":{"kind":"bitmap","file":"checks.png"}}}'
                     % (m, ",".join(keys)))
    with open(path, "w") as f:
        f.write('{"version":1,"ticksPerFrame":160,"animRange":{"start":0,"end":%d},"nodes":[%s]}'
                % ((frames - 1) * 160, ",".join(nodes)))


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    kind, out, rest = argv[1], argv[2], argv[3:]
    if kind == "skinned":
        opts = dict(zip(rest[::2], rest[1::2]))
        skinned(out, int(opts.get("--side", 224)), int(opts.get("--frames", 100)))
    elif kind == "gltf-chain":
        gltf_chain(out, int(rest[0]), "--hidden" in rest)
    elif kind == "gltf-cycle":
        gltf_cycle(out)
    elif kind == "scene-keyed":
        scene_keyed(out, int(rest[0]), int(rest[1]), int(rest[2]))
    elif kind in ("scene-chain", "scene-flat"):
        scene_file(out, int(rest[0]), int(rest[1]), kind == "scene-chain")
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)

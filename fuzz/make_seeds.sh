#!/usr/bin/env bash
# Seed corpora for the fuzz targets, in BUILD/corpus/<target>/: the bundled
# examples and test scenes, models exported from them, and small generated
# pictures and files. BUILD must hold quorvex and fuzz_seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: fuzz/make_seeds.sh BUILD}
seeds="$build/corpus"
mkdir -p "$seeds"/{scene,model,picture,gltf,obj}

cp examples/windmill/windmill.scene.json tests/fixtures/*.scene.json "$seeds/scene/"
cp examples/robot/robot.gltf "$seeds/gltf/"
cp examples/crate/crate.obj "$seeds/obj/"
cp examples/*/*.png "$seeds/picture/"
"$build/fuzz_seeds" "$seeds/picture"

# Models of both precisions, written by the exporter itself.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ASAN_OPTIONS=detect_leaks=0 "$build/quorvex" export tests/fixtures/triangle.scene.json -o "$seeds/model/triangle.mdl" \
  --frames 0:1 -q >/dev/null
ASAN_OPTIONS=detect_leaks=0 "$build/quorvex" export tests/fixtures/triangle.scene.json -o "$seeds/model/triangle16.mdl" \
  --frames 0:2 --hi-precision --alpha -q >/dev/null
ASAN_OPTIONS=detect_leaks=0 "$build/quorvex" export examples/crate/crate.obj -o "$tmp/crate.mdl" --frames 0:0 -q >/dev/null &&
  cp "$tmp/crate.mdl" "$seeds/model/"

# A small binary glTF: one triangle with its picture in a buffer view, and
# one animation key.
python3 - "$seeds/gltf/triangle.glb" "$seeds/picture/crate.png" <<'PY'
import json, struct, sys
out, picture = sys.argv[1], open(sys.argv[2], 'rb').read()
positions = struct.pack('<9f', 0, 0, 0, 1, 0, 0, 0, 1, 0)
uvs = struct.pack('<6f', 0, 0, 1, 0, 0, 1)
times = struct.pack('<2f', 0, 1)
moves = struct.pack('<6f', 0, 0, 0, 0, 1, 0)
blob = positions + uvs + times + moves
pic_at = len(blob)
blob += picture + b'\0' * (-len(picture) % 4)
doc = {
    "asset": {"version": "2.0"},
    "buffers": [{"byteLength": len(blob)}],
    "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 36}, {"buffer": 0, "byteOffset": 36, "byteLength": 24},
                    {"buffer": 0, "byteOffset": 60, "byteLength": 8}, {"buffer": 0, "byteOffset": 68, "byteLength": 24},
                    {"buffer": 0, "byteOffset": pic_at, "byteLength": len(picture)}],
    "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3", "min": [0, 0, 0], "max": [1, 1, 0]},
                  {"bufferView": 1, "componentType": 5126, "count": 3, "type": "VEC2"},
                  {"bufferView": 2, "componentType": 5126, "count": 2, "type": "SCALAR", "min": [0], "max": [1]},
                  {"bufferView": 3, "componentType": 5126, "count": 2, "type": "VEC3"}],
    "images": [{"bufferView": 4, "mimeType": "image/png"}],
    "textures": [{"source": 0}],
    "materials": [{"pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}}],
    "meshes": [{"primitives": [{"attributes": {"POSITION": 0, "TEXCOORD_0": 1}, "material": 0}]}],
    "nodes": [{"mesh": 0, "name": "tri"}],
    "scenes": [{"nodes": [0]}],
    "animations": [{"samplers": [{"input": 2, "output": 3}], "channels": [{"sampler": 0, "target": {"node": 0, "path": "translation"}}]}],
}
text = json.dumps(doc).encode()
text += b' ' * (-len(text) % 4)
body = struct.pack('<I4s', len(text), b'JSON') + text + struct.pack('<I4s', len(blob), b'BIN\0') + blob
open(out, 'wb').write(struct.pack('<4sII', b'glTF', 2, 12 + len(body)) + body)
PY

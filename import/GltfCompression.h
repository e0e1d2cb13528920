// Compressed glTF geometry: Draco-compressed primitives
// (KHR_draco_mesh_compression) and meshopt-compressed buffer views
// (EXT_meshopt_compression and its older name MESHOPT_compression), decoded
// into plain buffers so that the rest of the glTF reader sees an ordinary file.
#pragma once

#include <string>
#include <vector>

namespace tinygltf {
class Model;
}

namespace quorvex::importer {

// Rewrites what the glTF parser would refuse in a compressed file before the
// compression is ever looked at: a meshopt fallback buffer (one that holds no
// data, only room for the decoded views) becomes a 4-byte placeholder, and a
// Draco primitive loses its `indices`, whose accessor has no buffer view (the
// indices come from the Draco stream). `bytes` is the whole file, a .glb
// container when `binary`, else the JSON text. Files that use neither
// extension, or that are not well formed, are left exactly as they are; the
// parser reports the damage.
void PrepareCompressedGltf(std::vector<unsigned char>& bytes, bool binary);

// Decodes, in place, every meshopt-compressed buffer view into a buffer of its
// own, then every Draco-compressed primitive of a triangle mode into new
// accessors (indices as 32-bit integers, each attribute in its accessor's
// declared component type) that replace the primitive's own; the extensions
// decoded are removed. Decoded views are limited like buffers
// (kMaxInputFileBytes) and decoded attributes like accessors
// (kMaxAccessorValues). False with `error` ("<file>: <where>: <what>", naming
// the view or the primitive) when a stream is damaged, names what does not
// exist or exceeds a limit. KHR_meshopt_compression is left for the caller to
// refuse.
bool DecodeCompressedGltf(tinygltf::Model& model, const std::string& file, std::string& error);

}  // namespace quorvex::importer

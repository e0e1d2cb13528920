// Readers of the two classic vertex-frame formats, into the common animated
// scene (import/VertexFrames.h): every frame the file holds, positions as
// stored, the file's own axes (x forward, y left, z up).
#pragma once

#include <string>

#include "import/AnimatedScene.h"

namespace quorvex::importer {
using quorvex::scene::LoadError;

// True for the extensions these readers take: .md2 and .md3, any case.
bool IsVertexFramePath(const std::string& path);

// Reads an MD2 file: positions byte x scale + translate per frame; clips from
// the frame names (stand01..stand40 is clip "stand"); the first skin the file
// names as the picture (a warning names the others). False with `error`
// naming the file and the place for a file that is cut, not MD2, or whose
// indices or counts do not fit.
bool LoadMd2Scene(const std::string& path, int fps, AnimatedScene& out, LoadError& error);

// Reads an MD3 file: every surface a mesh, positions in 1/64 units, each
// surface's first shader as its picture unless a skin file names one; the
// frames one clip named after the file unless their names group them.
// `skinFile` is a skin file to use ("surface,picture" lines); empty: the
// model's "<name>_default.skin" beside it, when there is one. False with
// `error` as for LoadMd2Scene, or when the named skin file cannot be read.
bool LoadMd3Scene(const std::string& path, int fps, const std::string& skinFile, AnimatedScene& out, LoadError& error);

}  // namespace quorvex::importer

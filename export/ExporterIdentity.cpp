// What the host's export command shows of the exporter. Every text is static
// and outlives the library's clients; the host never frees them.
#include <new>

#include "plugin/Exporter.h"
#include "export/ModelExporter.h"

namespace quorvex {

// Value-initialised, although the exporter holds no state of its own.
SceneExport* NewModelExporter() { return new (std::nothrow) ModelExporter(); }

int ModelExporter::ExtCount() { return 1; }

// Indices past the one extension give an empty text, never null: the host
// prints what it gets.
const char* ModelExporter::Ext(int n) { return n == 0 ? "mdl" : ""; }

const char* ModelExporter::LongDesc() { return "Zentrova Quorvex"; }

const char* ModelExporter::ShortDesc() { return "Zentrova Mdl"; }

const char* ModelExporter::AuthorName() { return "The Quorvex team"; }

const char* ModelExporter::CopyrightMessage() { return "Copyright (c) The Quorvex team"; }

const char* ModelExporter::OtherMessage1() { return ""; }

const char* ModelExporter::OtherMessage2() { return ""; }

unsigned int ModelExporter::Version() { return 300; }

void ModelExporter::ShowAbout(HWND hWnd) { (void)hWnd; }

}  // namespace quorvex

// Allocation-failure replay: the N-th allocation fails, for N = 1, 2, ...,
// through a whole export, a model-file read, a scene-file load, a glTF import
// and picture decodes. Every run must end with the documented refusal,
// release everything and write nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "export/ExportState.h"
#include "import/Importer.h"
#include "mdl/MdlReader.h"
#include "model/Allocation.h"
#include "scene/Pictures.h"
#include "scene/SceneFile.h"
#include "standin/ExportSession.h"
#include "tests/CliRunner.h"
#include "tests/StbImageWrite.h"

using namespace quorvex;

// The test program's allocator counts allocations and, once armed, makes the
// chosen one fail. Unarmed it is plain malloc.
namespace {
std::atomic<int64_t> failAt{0};  // 0: none fails
std::atomic<int64_t> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    if (failAt.load(std::memory_order_relaxed) > 0 && allocations.fetch_add(1) + 1 == failAt.load()) {
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
// Out of line, so that the compiler does not take a free() it sees inlined
// for a mismatch with new.
[[gnu::noinline]] static void Release(void* p) noexcept { std::free(p); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace {

namespace fs = std::filesystem;

// The sizes of the gated allocations (the model's, the skin's, the writer's,
// the picture decoders') that were made to fail since the last clear.
std::set<size_t> gatedFailures;

// The exporter's large arrays and the decoders ask this gate; it counts with
// operator new, so the replay reaches them in their order.
bool CountedGate(size_t size) {
    if (failAt.load(std::memory_order_relaxed) > 0 && allocations.fetch_add(1) + 1 == failAt.load()) {
        gatedFailures.insert(size);
        return false;
    }
    return true;
}

// Allocations within its lifetime are counted and the n-th fails.
struct FailingAllocation {
    explicit FailingAllocation(int64_t n) {
        allocations = 0;
        SetAllocationGate(CountedGate);
        failAt = n;
    }
    ~FailingAllocation() {
        failAt = 0;
        SetAllocationGate(nullptr);
    }
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;
};

// True when the n-th allocation of the last section failed.
bool Failed(int64_t n) { return allocations >= n; }

// Runs `run(n)` for n = 1, 2, ... until its section makes fewer than n
// allocations (the run that succeeds). `run` returns whether the run ended as
// documented. Returns the number of runs.
template <class Run>
int64_t Replay(Run run) {
    for (int64_t n = 1;; ++n) {
        bool fine = false;
        try {
            fine = run(n);
        } catch (const std::bad_alloc&) {
            failAt = 0;
            ADD_FAILURE() << "allocation " << n << ": std::bad_alloc escaped";
        }
        if (!fine) {
            ADD_FAILURE() << "allocation " << n << " failing: the run did not end as documented";
            return n;
        }
        if (!Failed(n)) return n;
    }
}

const std::string kScene = QUORVEX_SOURCE_DIR "/tests/fixtures/triangle.scene.json";

}  // namespace

TEST(AllocationReplay, ExportRefusesReleasesAndWritesNothing) {
    const fs::path out = fs::temp_directory_path() / ("quorvex-replay-" + std::to_string(getpid()) + ".mdl");
    const std::string outPath = out.string();
    quorvex::scene::SceneDocument doc;
    quorvex::scene::LoadError error;
    ASSERT_TRUE(quorvex::scene::LoadSceneFile(kScene, doc, error)) << error.message;
    int64_t refusals = 0;
    gatedFailures.clear();
    const int64_t runs = Replay([&](int64_t n) {
        fs::remove(out);
        quorvex::standin::ExportRequest request;
        request.output = outPath;
        request.options = ExportOptionsRecord{0, 2, 0, 0};
        std::optional<FailingAllocation> failing;
        request.beforeExport = [&] { failing.emplace(n); };
        request.afterExport = [&](quorvex::standin::ExportOutcome) { failing.reset(); };
        const quorvex::standin::ExportResult result = quorvex::standin::RunExportSession(doc, request);
        const bool released = result.allReleased && !exportState.model && !exportState.skin;
        // Only the host's own test logs may lose an allocation without the
        // export noticing; then the model is written whole. A host call that
        // fails for memory (a conversion) is refused as that call's failure.
        const bool written =
            result.outcome == quorvex::standin::ExportOutcome::Written && ReadMdlFile(outPath.c_str()).ok();
        const bool refused = result.outcome != quorvex::standin::ExportOutcome::Written &&
                             result.messages.size() == 1 && result.messages[0].caption == kAbortCaption &&
                             !fs::exists(out);
        refusals += refused && result.outcome == quorvex::standin::ExportOutcome::NotEnoughMemory ? 1 : 0;
        EXPECT_TRUE(released && (written || refused))
            << "allocation " << n << ": outcome " << int(result.outcome) << ", boxes " << result.messages.size()
            << (result.messages.empty() ? "" : ": " + result.message) << "; host released " << result.allReleased
            << ", model " << (exportState.model != nullptr) << ", file " << fs::exists(out);
        return released && (written || refused) && (Failed(n) || written);
    });
    EXPECT_GT(runs, 10);
    EXPECT_GT(refusals, 0);
    // The replay reached a frame's positions (3 vertices of 12 bytes) and the
    // writer's buffer (64 KiB for so small a model).
    EXPECT_TRUE(gatedFailures.count(3 * sizeof(ModelVec3)));
    EXPECT_TRUE(gatedFailures.count(size_t(1) << 16));
    fs::remove(out);
}

TEST(AllocationReplay, ModelReadRefuses) {
    const fs::path dir = fs::temp_directory_path();
    const std::string path = (dir / ("quorvex-replay-read-" + std::to_string(getpid()) + ".mdl")).string();
    const CliResult made =
        RunQuorvex("export " + ShellQuote(kScene) + " -o " + ShellQuote(path) + " --frames 0:2 -q", dir);
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string model = ReadWholeFile(path);
    fs::remove(path);
    ASSERT_FALSE(model.empty());
    Replay([&](int64_t n) {
        MdlReadResult read;
        {
            FailingAllocation failing(n);
            read = ReadMdlBytes(reinterpret_cast<const uint8_t*>(model.data()), model.size());
        }
        if (!Failed(n)) return read.ok();
        return read.error.kind == MdlErrorKind::Io && read.error.message.find("not enough memory") != std::string::npos;
    });
}

TEST(AllocationReplay, SceneLoadRefusesAndKeepsTheDocument) {
    Replay([&](int64_t n) {
        quorvex::scene::SceneDocument doc;
        doc.ticksPerFrame = 7;
        quorvex::scene::LoadError error;
        bool loaded = false;
        {
            FailingAllocation failing(n);
            loaded = quorvex::scene::LoadSceneFile(kScene, doc, error);
        }
        const bool whole = loaded && doc.nodes.size() == 1 && doc.nodes[0].name == "Hull" && doc.nodes[0].object &&
                           doc.nodes[0].object->mesh.At(0).verts.size() == 3;
        if (!Failed(n)) return whole;
        // The parser allocates a buffer for unescaping strings, which the
        // reader never uses: without it the document must still be whole.
        if (loaded) return whole;
        return doc.ticksPerFrame == 7 && error.kind == quorvex::scene::LoadErrorKind::NotEnoughMemory &&
               error.message.find(": Not enough memory") != std::string::npos;
    });
}

TEST(AllocationReplay, GltfImportRefusesWithItsWords) {
    // One textured triangle, its buffer inline and its picture beside it.
    const fs::path dir = fs::temp_directory_path() / ("quorvex-replay-gltf-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::copy_file(QUORVEX_SOURCE_DIR "/examples/crate/crate.png", dir / "crate.png",
                  fs::copy_options::overwrite_existing);
    const std::string path = (dir / "tri.gltf").string();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    // 3 positions (0,0,0) (1,0,0) (0,1,0), then 3 texture coordinates.
    std::fputs(R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":60,"uri":"data:application/octet-stream;base64,)"
               R"(AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAAAAAAAAAAAAAAAIA/AAAAAAAAAAAAAIA/"}],)"
               R"("bufferViews":[{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":24}],)"
               R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],)"
               R"("max":[1,1,0]},{"bufferView":1,"componentType":5126,"count":3,"type":"VEC2"}],)"
               R"("images":[{"uri":"crate.png"}],"textures":[{"source":0}],)"
               R"("materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}}],)"
               R"("meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1},"material":0}]}],)"
               R"("nodes":[{"mesh":0,"name":"tri"}],"scenes":[{"nodes":[0]}]})",
               file);
    std::fclose(file);
    // From the evaluation on: the JSON documents of the reading phase allocate
    // while they are destroyed, where a failure can only end the process.
    const int64_t runs = Replay([&](int64_t n) {
        quorvex::scene::SceneDocument doc;
        quorvex::importer::ImportNotes notes;
        quorvex::scene::LoadError error;
        std::optional<FailingAllocation> failing;
        quorvex::importer::ImportOptions options;
        options.onPhase = [&](const std::string& phase) {
            if (phase == "Evaluating") failing.emplace(n);
        };
        const bool imported = quorvex::importer::ImportScene(path, options, doc, notes, error);
        failing.reset();
        if (!Failed(n)) return imported && notes.warnings.empty() && doc.nodes.size() == 1;
        const bool said = error.kind == quorvex::scene::LoadErrorKind::NotEnoughMemory &&
                          error.message.find("Not enough memory") != std::string::npos;
        EXPECT_TRUE(!imported && said) << "allocation " << n << ": " << (imported ? "imported" : error.message);
        return !imported && said;
    });
    EXPECT_GT(runs, 5);
    fs::remove_all(dir);
}

TEST(AllocationReplay, PictureDecodesRefuseWithItsWords) {
    // A PNG, 3 x 2 pixels. (The built-in decoder of BMP and TGA files loses its
    // first buffer when its 16-bit conversion runs out of memory, so it is
    // left out here.)
    const unsigned char rgb[18] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9, 80, 80, 80, 200, 100, 0};
    auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<unsigned char>*>(context);
        out->insert(out->end(), static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
    };
    std::vector<unsigned char> png;
    stbi_write_png_to_func(append, &png, 3, 2, 3, rgb, 9);
    for (const std::vector<unsigned char>* bytes : {&png}) {
        gatedFailures.clear();
        Replay([&](int64_t n) {
            quorvex::scene::Picture picture;
            std::string error;
            bool decoded = false;
            {
                FailingAllocation failing(n);
                decoded = quorvex::scene::DecodePicture(bytes->data(), bytes->size(), picture, error);
            }
            if (!Failed(n)) return decoded && picture.width == 3 && picture.pixels.size() == 6;
            return !decoded && error == "Not enough memory to decode the picture";
        });
        // The decoder's own memory was among the allocations made to fail.
        EXPECT_FALSE(gatedFailures.empty());
    }
}

// The library as the host meets it: the exports, the class descriptor, the
// exporter's identity and the module entry routine.
#include <gtest/gtest.h>

#include <cstring>

#include "export/ModelExporter.h"
#include "standin/Win32Standin.h"
#include "plugin/ExporterClassDesc.h"
#include "plugin/PluginModule.h"

using namespace quorvex;

namespace {

TEST(LibraryExports, DescribeOneExporterClass) {
    EXPECT_STREQ(LibDescription(), "Quorvex");
    EXPECT_EQ(LibNumberClasses(), 1);
    EXPECT_EQ(LibVersion(), 0x0C1C0700ul);

    ClassDesc* first = LibClassDesc(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(LibClassDesc(0), first) << "the descriptor is one static object";
    EXPECT_EQ(first, static_cast<ClassDesc*>(&exporterClassDesc));
    EXPECT_EQ(LibClassDesc(1), nullptr);
    EXPECT_EQ(LibClassDesc(-1), nullptr);
}

TEST(ExporterClassDescriptor, NamesTheSceneExporterClass) {
    ClassDesc* desc = LibClassDesc(0);
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->IsPublic(), 1);
    EXPECT_STREQ(desc->ClassName(), "Quorvex");
    EXPECT_STREQ(desc->Category(), "Quorvex");
    EXPECT_EQ(desc->SuperClassID(), 0xA20u);
    EXPECT_EQ(desc->ClassID(), (Class_ID{0x4018116b, 0x452e5edd}));
    // Slots the descriptor does not override keep the interface's answers.
    EXPECT_EQ(desc->BeginCreate(nullptr), 0);
    EXPECT_EQ(desc->EndCreate(nullptr), 0);
    EXPECT_EQ(desc->InternalName(), nullptr);
    EXPECT_EQ(desc->HInstance(), nullptr);
}

TEST(ExporterClassDescriptor, CreatesIndependentExportersTheHostCanDelete) {
    ClassDesc* desc = LibClassDesc(0);
    ASSERT_NE(desc, nullptr);
    // The host treats the result as the scene-export interface.
    auto* a = static_cast<SceneExport*>(desc->Create(FALSE));
    auto* b = static_cast<SceneExport*>(desc->Create(TRUE));  // loading makes no difference
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_NE(dynamic_cast<ModelExporter*>(a), nullptr);

    EXPECT_EQ(a->ExtCount(), 1);
    EXPECT_STREQ(a->Ext(0), "mdl");
    // Past the one extension the host gets an empty text, never null.
    for (int n : {1, 2, -1}) {
        ASSERT_NE(a->Ext(n), nullptr) << n;
        EXPECT_STREQ(a->Ext(n), "") << n;
    }
    EXPECT_STREQ(a->LongDesc(), "Zentrova Quorvex");
    EXPECT_STREQ(a->ShortDesc(), "Zentrova Mdl");
    ASSERT_NE(a->AuthorName(), nullptr);
    EXPECT_GT(std::strlen(a->AuthorName()), 0u);
    ASSERT_NE(a->CopyrightMessage(), nullptr);
    EXPECT_GT(std::strlen(a->CopyrightMessage()), 0u);
    EXPECT_STREQ(a->OtherMessage1(), "");
    EXPECT_STREQ(a->OtherMessage2(), "");
    EXPECT_EQ(a->Version(), 300u);
    EXPECT_EQ(a->SupportsOptions(0, 0), FALSE);
    a->ShowAbout(nullptr);

    // Through the interface's virtual destructor, as the host does; the
    // sanitizer build catches a mismatched or double release.
    delete a;
    delete b;
}

// Counts the host's custom-control set-up and notes whether the common
// controls were already set up when it ran.
class ControlCountingHost : public HostGlobals {
public:
    explicit ControlCountingHost(const quorvex::standin::ScriptedWin32& win32) : win32_(win32) {}
    int GetTicksPerFrame() override { return 160; }
    void InitCustomControls(HINSTANCE instance) override {
        ++customControlCalls;
        customControlInstance = instance;
        commonControlsBeforeCustom = win32_.initCommonControlsCalls;
    }
    void CenterWindow(HWND, HWND) override {}
    BitmapManager* Manager() override { return nullptr; }
    DefNoteTrack* NewDefaultNoteTrack() override { return nullptr; }

    int customControlCalls = 0;
    HINSTANCE customControlInstance = nullptr;
    int commonControlsBeforeCustom = -1;

private:
    const quorvex::standin::ScriptedWin32& win32_;
};

class ModuleEntry : public ::testing::Test {
protected:
    void SetUp() override {
        // The module state is process-wide: start from the state the library
        // loads with, whatever ran before, and put it back afterwards.
        savedInstance_ = hInstance;
        savedFlag_ = controlsInitialised;
        hInstance = nullptr;
        controlsInitialised = 0;
        previousHost_ = SetHostGlobals(&host);
    }
    void TearDown() override {
        SetHostGlobals(previousHost_);
        hInstance = savedInstance_;
        controlsInitialised = savedFlag_;
    }

    static HINSTANCE Handle(uintptr_t v) { return reinterpret_cast<HINSTANCE>(v); }

    quorvex::standin::ScriptedWin32 win32;
    quorvex::standin::Win32Scope win32Scope{&win32};
    ControlCountingHost host{win32};

private:
    HINSTANCE savedInstance_ = nullptr;
    int savedFlag_ = 0;
    HostGlobals* previousHost_ = nullptr;
};

TEST_F(ModuleEntry, InitialisesControlsOnceAndKeepsTheLatestHandle) {
    EXPECT_EQ(DllMain(Handle(0x1000), DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_EQ(hInstance, Handle(0x1000));
    EXPECT_EQ(controlsInitialised, 1);
    EXPECT_EQ(host.customControlCalls, 1);
    EXPECT_EQ(host.customControlInstance, Handle(0x1000));
    EXPECT_EQ(host.commonControlsBeforeCustom, 0) << "custom controls come first";
    EXPECT_EQ(win32.initCommonControlsCalls, 1);

    const struct {
        DWORD reason;
        uintptr_t handle;
    } later[] = {{DLL_THREAD_ATTACH, 0x2000}, {DLL_THREAD_DETACH, 0x3000}, {DLL_PROCESS_DETACH, 0x4000}};
    for (const auto& call : later) {
        EXPECT_EQ(DllMain(Handle(call.handle), call.reason, nullptr), TRUE) << call.reason;
        EXPECT_EQ(hInstance, Handle(call.handle)) << call.reason;
    }
    EXPECT_EQ(host.customControlCalls, 1);
    EXPECT_EQ(win32.initCommonControlsCalls, 1);
    EXPECT_EQ(controlsInitialised, 1);
}

TEST_F(ModuleEntry, FirstCallInitialisesWhateverItsReason) {
    EXPECT_EQ(DllMain(Handle(0x5000), DLL_THREAD_ATTACH, nullptr), TRUE);
    EXPECT_EQ(host.customControlCalls, 1);
    EXPECT_EQ(win32.initCommonControlsCalls, 1);
    EXPECT_EQ(DllMain(Handle(0x5000), DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_EQ(host.customControlCalls, 1);
    EXPECT_EQ(win32.initCommonControlsCalls, 1);
}

}  // namespace

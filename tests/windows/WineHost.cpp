// A Windows test host for the plug-in library: loads it with LoadLibrary as the
// modelling host does, checks what its four entry points answer, and runs
// exports through it with the stand-in host serving a scene. The scene comes
// as bytes (scene/SceneBytes.h) the Linux side wrote from a scene file with
// quorvex-scene-bytes, so that this host needs no JSON reader. The options
// dialog and the message boxes are the library's real ones; a second thread
// finds them on screen and clicks their buttons and boxes.
//
//   quorvex-wintest identity LIBRARY
//   quorvex-wintest export LIBRARY SCENE-BYTES OUT [--hi-precision] [--alpha]
//       [--single-frame | --cancel | --frames START:END] [--abort TEXT]
//       [--no-host] [--squat]
//
// export answers the dialog as `quorvex export` does with the same flags.
// --frames first opens the dialog over an animation range of START..END,
// ticks the boxes and cancels (the options outlive the dialog), then exports
// with prompts suppressed, which is what the command line's --frames does.
// --abort expects the export to be refused with a message box of that text;
// --no-host skips installing the host services; --squat first creates the
// name the writer tries first for its temporary file, which must survive.
// Prints one line per failed check and exits 1 if any failed, else 0.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <windows.h>

#include "plugin/HostServices.h"
#include "scene/SceneBytes.h"
#include "standin/StandinHost.h"
#include "ui/Resource.h"

using quorvex::standin::StandinHost;

namespace {

std::atomic<int> failures{0};

void Fail(const std::string& what) {
    std::printf("FAIL: %s\n", what.c_str());
    std::fflush(stdout);
    ++failures;
}

void Check(bool ok, const std::string& what) {
    if (!ok) Fail(what);
}

std::string Text(const char* s) { return s ? s : "(null)"; }

using DescriptionFn = const char* (*)();
using CountFn = int (*)();
using ClassDescFn = ClassDesc* (*)(int);
using VersionFn = unsigned long (*)();
using SetHostFn = HostGlobals* (*)(HostGlobals*);

struct Library {
    HMODULE module = nullptr;
    DescriptionFn description = nullptr;
    CountFn numberClasses = nullptr;
    ClassDescFn classDesc = nullptr;
    VersionFn version = nullptr;
    SetHostFn setHost = nullptr;  // the test build's hook; absent in the shipping library
};

template <class Fn>
Fn Entry(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool LoadPlugin(const char* path, Library& lib) {
    lib.module = LoadLibraryA(path);
    if (!lib.module) {
        Fail(std::string("LoadLibrary ") + path + " failed, error " + std::to_string(GetLastError()));
        return false;
    }
    lib.description = Entry<DescriptionFn>(lib.module, "LibDescription");
    lib.numberClasses = Entry<CountFn>(lib.module, "LibNumberClasses");
    lib.classDesc = Entry<ClassDescFn>(lib.module, "LibClassDesc");
    lib.version = Entry<VersionFn>(lib.module, "LibVersion");
    lib.setHost = Entry<SetHostFn>(lib.module, "QuorvexTestSetHostGlobals");
    const bool all = lib.description && lib.numberClasses && lib.classDesc && lib.version;
    Check(all, "one of the four entry points is not exported by name");
    return all;
}

int Identity(const Library& lib) {
    Check(Text(lib.description()) == "Quorvex", "LibDescription gave " + Text(lib.description()));
    Check(lib.numberClasses() == 1, "LibNumberClasses gave " + std::to_string(lib.numberClasses()));
    Check(lib.version() == 0x0C1C0700ul, "LibVersion gave " + std::to_string(lib.version()));
    ClassDesc* desc = lib.classDesc(0);
    Check(lib.classDesc(1) == nullptr && lib.classDesc(-1) == nullptr, "LibClassDesc(1) or (-1) is not null");
    if (!desc) {
        Fail("LibClassDesc(0) is null");
        return 1;
    }
    Check(lib.classDesc(0) == desc, "LibClassDesc(0) gives a different descriptor on a second call");
    Check(desc->IsPublic() == 1, "IsPublic is not 1");
    Check(Text(desc->ClassName()) == "Quorvex", "ClassName gave " + Text(desc->ClassName()));
    Check(Text(desc->Category()) == "Quorvex", "Category gave " + Text(desc->Category()));
    Check(desc->SuperClassID() == SCENE_EXPORT_CLASS_ID, "SuperClassID is not 0xA20");
    const Class_ID id = desc->ClassID();
    Check(id.PartA() == 0x4018116bu && id.PartB() == 0x452e5eddu, "ClassID is not (0x4018116b, 0x452e5edd)");

    SceneExport* exporter = static_cast<SceneExport*>(desc->Create(FALSE));
    if (!exporter) {
        Fail("Create gave null");
        return 1;
    }
    Check(exporter->ExtCount() == 1 && Text(exporter->Ext(0)) == "mdl" && Text(exporter->Ext(1)).empty(),
          "the exporter's extensions are not exactly \"mdl\"");
    Check(Text(exporter->LongDesc()) == "Zentrova Quorvex", "LongDesc gave " + Text(exporter->LongDesc()));
    Check(Text(exporter->ShortDesc()) == "Zentrova Mdl", "ShortDesc gave " + Text(exporter->ShortDesc()));
    Check(exporter->Version() == 300, "Version is not 300");
    Check(exporter->SupportsOptions(0, 0) == FALSE, "SupportsOptions is not FALSE");
    delete exporter;  // the library's own destructor, through the interface
    return failures ? 1 : 0;
}

// ---------------------------------------------------------------- export

struct ExportArgs {
    const char* library = nullptr;
    const char* scene = nullptr;
    std::string out;
    bool hiPrecision = false, alpha = false, singleFrame = false, cancel = false;
    bool frames = false, noHost = false, squat = false;
    int32_t start = 0, end = 0;
    const char* abortText = nullptr;
};

// The stand-in host with a real main window, as owner of the dialog and the
// message boxes, and optionally its animation range replaced.
class WineHost : public quorvex::standin::StandinHost {
public:
    explicit WineHost(quorvex::scene::SceneDocument document) : StandinHost(std::move(document)) {
        window_ = CreateWindowExA(0, "STATIC", "quorvex test host", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ~WineHost() override {
        if (window_) DestroyWindow(window_);
    }
    HWND GetMAXHWnd() override { return window_; }
    Interval GetAnimRange() override { return rangeSet ? range : StandinHost::GetAnimRange(); }

    bool rangeSet = false;
    Interval range;

private:
    HWND window_ = nullptr;
};

constexpr const char* kDialogTitle = "Export Zentrova Mdl 29 July 2001 ";
constexpr const char* kAbortCaption = "Aborting !";

// What the clicking thread does with the next options dialog it finds.
struct DialogPlan {
    std::vector<int> boxes;  // check boxes to click, in order
    int button = IDOK;       // then this button
};

HWND FindDialog(const char* title) { return FindWindowA("#32770", title); }

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string WindowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM out) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    const std::string text = WindowText(child);
    if (lstrcmpiA(cls, "Static") == 0 && !text.empty()) *reinterpret_cast<std::string*>(out) += text;
    return TRUE;
}

// Finds the options dialog and message boxes the export opens on the UI
// thread and answers them, until told to stop.
class Clicker {
public:
    explicit Clicker(std::vector<DialogPlan> plans) : plans_(std::move(plans)), thread_([this] { Run(); }) {}
    ~Clicker() { Stop(); }

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    size_t DialogsAnswered() const { return answered_; }
    const std::vector<std::string>& Boxes() const { return boxes_; }

private:
    void Run() {
        while (!stop_) {
            if (HWND dialog = FindDialog(kDialogTitle); dialog && IsWindowVisible(dialog)) Answer(dialog);
            if (HWND box = FindDialog(kAbortCaption); box && IsWindowVisible(box)) {
                std::string text;
                EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&text));
                boxes_.push_back(std::string(kAbortCaption) + ": " + text);
                Click(box, IDOK);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void Answer(HWND dialog) {
        if (answered_ >= plans_.size()) {
            Fail("the options dialog opened more often than expected");
            Click(dialog, IDCANCEL);
            return;
        }
        const DialogPlan& plan = plans_[answered_++];
        Check(GetDlgItem(dialog, IDC_SINGLE_FRAME) && WindowText(GetDlgItem(dialog, IDOK)) == "Export Frame Range",
              "the dialog on screen lacks its buttons");
        for (int id : {IDC_HI_PRECISION, IDC_ALPHA_CHANNEL})
            Check(IsDlgButtonChecked(dialog, id) == BST_UNCHECKED, "a check box is ticked when the dialog opens");
        for (int id : plan.boxes) {
            Click(dialog, id);
            Check(IsDlgButtonChecked(dialog, id) == BST_CHECKED,
                  "clicking check box " + std::to_string(id) + " did not tick it");
        }
        Click(dialog, plan.button);
        // The dialog is gone once its procedure has ended it.
        for (int i = 0; i < 250 && FindDialog(kDialogTitle); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    std::vector<DialogPlan> plans_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> answered_{0};
    std::vector<std::string> boxes_;
    std::thread thread_;
};

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool ParseRange(const char* text, int32_t& start, int32_t& end) {
    char* rest = nullptr;
    const long long a = std::strtoll(text, &rest, 10);
    if (rest == text || *rest != ':') return false;
    const char* second = rest + 1;
    const long long b = std::strtoll(second, &rest, 10);
    if (rest == second || *rest != '\0' || a < INT32_MIN || a > INT32_MAX || b < INT32_MIN || b > INT32_MAX || b < a)
        return false;
    start = static_cast<int32_t>(a);
    end = static_cast<int32_t>(b);
    return true;
}

int Export(const Library& lib, const ExportArgs& args) {
    quorvex::scene::SceneDocument document;
    std::string error;
    if (!quorvex::scene::ReadSceneDocumentBytes(ReadFile(args.scene), document, error)) {
        Fail(std::string(args.scene) + ": " + error);
        return 1;
    }
    WineHost host(std::move(document));
    if (!host.GetMAXHWnd()) Fail("cannot create the main window");
    if (!args.noHost) {
        if (!lib.setHost) {
            Fail("the library has no hook to install host services");
            return 1;
        }
        lib.setHost(&host);
    }

    // The writer's first temporary name in this process.
    const std::string squatted = args.out + ".tmp" + std::to_string(GetCurrentProcessId()) + "-0";
    if (args.squat) std::ofstream(squatted, std::ios::binary) << "squatter";

    DialogPlan plan;
    if (args.hiPrecision) plan.boxes.push_back(IDC_HI_PRECISION);
    if (args.alpha) plan.boxes.push_back(IDC_ALPHA_CHANNEL);
    plan.button = args.cancel || args.frames ? IDCANCEL : args.singleFrame ? IDC_SINGLE_FRAME : IDOK;
    const bool prompts = !args.noHost;  // without host services the export refuses before any dialog

    SceneExport* exporter = static_cast<SceneExport*>(lib.classDesc(0)->Create(FALSE));
    if (!exporter) {
        Fail("Create gave null");
        return 1;
    }
    Clicker clicker(prompts ? std::vector<DialogPlan>{plan} : std::vector<DialogPlan>{});
    int result = 0;
    if (args.frames) {
        const int64_t tpf = host.GetTicksPerFrame();
        host.range = Interval{static_cast<TimeValue>(args.start * tpf), static_cast<TimeValue>(args.end * tpf)};
        host.rangeSet = true;
        Check(exporter->DoExport(args.out.c_str(), nullptr, &host, FALSE, 0) == 1,
              "cancelling the dialog did not give 1");
        Check(!FileExists(args.out), "cancelling the dialog wrote a file");
        result = exporter->DoExport(args.out.c_str(), nullptr, &host, TRUE, 0);
    } else {
        result = exporter->DoExport(args.out.c_str(), nullptr, &host, FALSE, 0);
    }
    clicker.Stop();
    delete exporter;
    if (lib.setHost) lib.setHost(nullptr);

    for (const std::string& box : clicker.Boxes()) std::printf("%s\n", box.c_str());
    Check(clicker.DialogsAnswered() == (prompts ? 1u : 0u), "the options dialog did not open as expected");
    const bool refused = args.abortText != nullptr;
    Check(result == (refused ? 0 : 1), "DoExport returned " + std::to_string(result));
    if (refused) {
        const std::string expected = std::string(kAbortCaption) + ": " + args.abortText;
        Check(clicker.Boxes().size() == 1 && clicker.Boxes()[0] == expected,
              "expected one message box \"" + expected + "\"");
    } else {
        Check(clicker.Boxes().empty(), "a message box appeared");
    }
    Check(FileExists(args.out) == (!refused && !args.cancel),
          args.cancel || refused ? "a file was written" : "no file was written");
    if (!args.noHost) Check(host.AllReleasedOnce(), "the export did not release what it was given exactly once");
    if (args.squat) {
        Check(ReadFile(squatted) == "squatter", "the writer truncated a file already at its temporary name");
        DeleteFileA(squatted.c_str());
    }
    return failures ? 1 : 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: quorvex-wintest identity LIBRARY\n"
                 "       quorvex-wintest export LIBRARY SCENE-BYTES OUT [--hi-precision] [--alpha]\n"
                 "           [--single-frame | --cancel | --frames START:END] [--abort TEXT] [--no-host] [--squat]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    Library lib;
    if (command == "identity") {
        if (argc != 3) return Usage();
        return LoadPlugin(argv[2], lib) ? Identity(lib) : 1;
    }
    if (command != "export" || argc < 5) return Usage();
    ExportArgs args;
    args.library = argv[2];
    args.scene = argv[3];
    args.out = argv[4];
    for (int i = 5; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--hi-precision")
            args.hiPrecision = true;
        else if (a == "--alpha")
            args.alpha = true;
        else if (a == "--single-frame")
            args.singleFrame = true;
        else if (a == "--cancel")
            args.cancel = true;
        else if (a == "--no-host")
            args.noHost = true;
        else if (a == "--squat")
            args.squat = true;
        else if (a == "--abort" && i + 1 < argc)
            args.abortText = argv[++i];
        else if (a == "--frames" && i + 1 < argc && ParseRange(argv[i + 1], args.start, args.end)) {
            args.frames = true;
            ++i;
        } else {
            return Usage();
        }
    }
    if (!LoadPlugin(args.library, lib)) return 1;
    return Export(lib, args);
}

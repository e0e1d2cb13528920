// quorvex view FILE.mdl -o OUT.png: draws a frame, a sheet of frames, or the
// skin of a model file into a PNG picture, without a GPU or a window.
#include <iostream>
#include <memory>
#include <string>

#include "cli/Commands.h"
#include "mdl/MdlReader.h"
#include "view/PngOutput.h"
#include "view/Renderer.h"

using namespace quorvex;

namespace {

struct ViewArguments {
    std::string path;
    std::string output;
    int32_t frame = 0;
    bool sheet = false;
    int32_t every = 0;
    bool skin = false;
    std::string size;
    float yaw = RenderOptions{}.yawDegrees;
    float pitch = RenderOptions{}.pitchDegrees;
};

// Parses "WxH" (or "WXH") with both sides decimal and in 1..RenderMaxSide.
bool ParseSize(const std::string& text, int32_t& width, int32_t& height) {
    int64_t sides[2] = {0, 0};
    int side = 0;
    size_t digits = 0;
    for (char ch : text) {
        if (ch >= '0' && ch <= '9') {
            sides[side] = sides[side] * 10 + (ch - '0');
            if (sides[side] > RenderMaxSide) return false;
            ++digits;
        } else if ((ch == 'x' || ch == 'X') && side == 0 && digits > 0) {
            side = 1;
            digits = 0;
        } else {
            return false;
        }
    }
    if (side != 1 || digits == 0 || sides[0] < 1 || sides[1] < 1) return false;
    width = int32_t(sides[0]);
    height = int32_t(sides[1]);
    return true;
}

int RunView(const ViewArguments& args) {
    const std::string name = "quorvex view: " + args.path + ": ";
    const MdlReadResult read = ReadMdlFile(args.path.c_str());
    if (!read.ok()) {
        if (read.error.kind == MdlErrorKind::Io) {
            std::cerr << name << read.error.message << "\n";
            return ExitUsage;
        }
        std::cerr << name << "malformed model file (" << MdlErrorKindName(read.error.kind) << " at byte "
                  << read.error.offset << "): " << read.error.message << "\n";
        return ExitFailed;
    }
    for (const std::string& warning : read.warnings) std::cerr << name << "warning: " << warning << "\n";

    RenderOptions options;
    options.yawDegrees = args.yaw;
    options.pitchDegrees = args.pitch;
    const bool sized = !args.size.empty();
    if (sized && !ParseSize(args.size, options.width, options.height)) {
        std::cerr << name << "--size " << args.size << " is not WxH with sides 1.." << RenderMaxSide << "\n";
        return ExitUsage;
    }
    if (args.sheet && !sized) options.width = options.height = 192;

    RenderResult rendered;
    std::string what;
    if (args.skin) {
        rendered = RenderSkinPicture(read.file);
        what = "the skin";
    } else if (args.sheet) {
        rendered = RenderModelSheet(read.file, args.every, options);
        what = "a sheet of frames";
    } else {
        rendered = RenderModelFrame(read.file, args.frame, options);
        if (rendered.ok())
            what = "frame " + std::to_string(args.frame) + " \"" + read.file.frames[size_t(args.frame)].name + "\"";
    }
    if (!rendered.ok()) {
        std::cerr << name << rendered.error << "\n";
        return rendered.badRequest ? ExitUsage : ExitFailed;
    }
    std::string error;
    if (!WritePngFile(args.output, rendered.image, error)) {
        std::cerr << "quorvex view: " << error << "\n";
        return ExitFailed;
    }
    std::cout << "wrote " << args.output << ": " << what << ", " << rendered.image.width << "x" << rendered.image.height
              << "\n";
    return ExitSuccess;
}

void AddViewCommand(CLI::App& app, int& exitStatus) {
    auto args = std::make_shared<ViewArguments>();
    CLI::App* command =
        app.add_subcommand("view", "Draw a frame, a sheet of frames, or the skin of a model file into a PNG picture.");
    command->footer(
        "Draw a model file into a PNG picture: one frame, a sheet of frames, or the skin. The model is drawn\n"
        "textured with its skin and lit by its stored normals, from a camera fitted to the bounding boxes of\n"
        "all frames, so every frame appears at the same place and scale. Exit status: 0 success, 1 malformed\n"
        "model file or the picture cannot be written, 2 bad usage or an unreadable file.");
    command->add_option("FILE", args->path, "The model file (\"MDL3\" or \"MDL4\") to draw.")->required();
    command->add_option("-o,--output", args->output, "The PNG file to write; an existing file is replaced.")
        ->type_name("OUT.png")
        ->required();
    auto* frame = command
                      ->add_option("--frame", args->frame,
                                   "The frame to draw, counted from 0 (default 0). Use `quorvex info` to list "
                                   "the frames.")
                      ->type_name("N")
                      ->check(CLI::NonNegativeNumber);
    auto* sheet = command->add_flag("--sheet", args->sheet,
                                    "Draw a grid of frames instead of one, each cell labelled with the frame's "
                                    "number and name. Cells are 192x192 pixels unless --size says otherwise.");
    command
        ->add_option("--every", args->every,
                     "With --sheet, draw every K-th frame (0, K, 2K, ...). By default the smallest step that keeps "
                     "the sheet within 64 cells.")
        ->type_name("K")
        ->check(CLI::PositiveNumber)
        ->needs(sheet);
    auto* skin = command->add_flag("--skin", args->skin,
                                   "Write the skin picture itself (every skin, one below the other) instead of "
                                   "drawing the model.");
    command
        ->add_option("--size", args->size,
                     "Picture size WxH in pixels, each side 1.." + std::to_string(RenderMaxSide) +
                         " (default 512x512); with --sheet, the size of each cell.")
        ->type_name("WxH");
    command
        ->add_option("--yaw", args->yaw,
                     "Camera angle around the vertical axis in degrees (default 30); 0 looks at the model's "
                     "front, from +x.")
        ->check(CLI::Range(-360.0f, 360.0f));
    command
        ->add_option("--pitch", args->pitch,
                     "Camera elevation in degrees, -89..89 (default 15); positive looks down on the model.")
        ->check(CLI::Range(-89.0f, 89.0f));
    frame->excludes(sheet);
    skin->excludes(frame);
    skin->excludes(sheet);
    command->callback([args, &exitStatus] { exitStatus = RunView(*args); });
}

const CommandRegistration registration(30, AddViewCommand);

}  // namespace

// quorvex view FILE.mdl -o OUT.png: draws a frame, a sheet of frames, the
// skin, or every frame as an animated GIF, without a GPU or a window.
#include <climits>
#include <iostream>
#include <algorithm>
#include <memory>
#include <vector>
#include <string>

#include "cli/Commands.h"
#include "cli/FlagValues.h"
#include "cli/OutputCheck.h"
#include "mdl/MdlReader.h"
#include "view/PictureOutput.h"
#include "view/Renderer.h"

namespace quorvex::cli {

using quorvex::view::GifDelays;
using quorvex::view::kRenderMaxPixels;
using quorvex::view::kRenderMaxSide;
using quorvex::view::PictureFormat;
using quorvex::view::PictureFormatOf;
using quorvex::view::RenderImage;
using quorvex::view::RenderModelFrame;
using quorvex::view::RenderModelSheet;
using quorvex::view::RenderOptions;
using quorvex::view::RenderResult;
using quorvex::view::RenderSkinPicture;
using quorvex::view::ScaleRenderImage;
using quorvex::view::WriteAnimatedGif;

using namespace quorvex;

namespace {

struct ViewArguments {
    std::string path;
    std::string output;
    int32_t frame = 0;
    bool sheet = false;
    int32_t every = 0;
    bool skin = false;
    bool animate = false;
    std::string fps = "30";
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
            if (sides[side] > kRenderMaxSide) return false;
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

int ViewUsage(const std::string& message) {
    std::cerr << "quorvex view: " << message << "\nRun 'quorvex view --help' for the flags.\n";
    return kExitUsage;
}

// Every every-th frame (or every frame) drawn alike, as one animated GIF.
RenderResult RenderAnimation(const MdlFile& file, int32_t every, const RenderOptions& options,
                             std::vector<RenderImage>& frames) {
    RenderResult result;
    const int64_t step = every > 0 ? every : 1;
    const int64_t count = (int64_t(file.frames.size()) + step - 1) / step;
    if (count == 0) {
        result.error = "the model has no frames";
        result.badRequest = true;
        return result;
    }
    // All frames are held at once to share one palette.
    if (count * options.width * options.height > kRenderMaxPixels) {
        result.error = std::to_string(count) + " frames of " + std::to_string(options.width) + "x" +
                       std::to_string(options.height) +
                       " pixels are too many to animate; use --every or a smaller --size";
        result.badRequest = true;
        return result;
    }
    for (int64_t f = 0; f < int64_t(file.frames.size()); f += step) {
        RenderResult frame = RenderModelFrame(file, int32_t(f), options);
        if (!frame.ok()) return frame;
        frames.push_back(std::move(frame.image));
    }
    return result;
}

int RunView(const ViewArguments& args) {
    // Everything about the request is checked before the model is read.
    const PictureFormat format = PictureFormatOf(args.output);
    if (format == PictureFormat::Unknown)
        return ViewUsage("-o " + args.output +
                         ": the picture format follows the extension: .png, .jpg, .bmp, .tga, "
                         "or .gif with --animate");
    if (format == PictureFormat::Gif && !args.animate)
        return ViewUsage("-o " + args.output + ": a GIF holds an animation; add --animate");
    if (args.animate && format != PictureFormat::Gif)
        return ViewUsage("--animate writes an animated GIF; name the output OUT.gif");
    int fps = 30;
    if (const std::string problem = ParseFps(args.fps, fps); !problem.empty()) return ViewUsage(problem);
    if (const std::string problem = CheckOutputPath(args.output, {args.path}); !problem.empty()) {
        std::cerr << "quorvex view: " << problem << "\n";
        return kExitFailed;
    }

    const std::string name = "quorvex view: " + args.path + ": ";
    const MdlReadResult read = ReadMdlFile(args.path.c_str());
    if (!read.ok()) {
        if (read.error.kind == MdlErrorKind::Io) {
            std::cerr << name << read.error.message << "\n";
            return kExitUsage;
        }
        std::cerr << name << "malformed model file (" << MdlErrorKindName(read.error.kind) << " at byte "
                  << read.error.offset << "): " << read.error.message << "\n";
        return kExitFailed;
    }
    for (const std::string& warning : read.warnings) std::cerr << name << "warning: " << warning << "\n";

    RenderOptions options;
    options.yawDegrees = args.yaw;
    options.pitchDegrees = args.pitch;
    const bool sized = !args.size.empty();
    if (sized && !ParseSize(args.size, options.width, options.height)) {
        std::cerr << name << "--size " << args.size << " is not WxH with sides 1.." << kRenderMaxSide << "\n";
        return kExitUsage;
    }
    if (args.sheet && !sized) options.width = options.height = 192;

    RenderResult rendered;
    std::string what;
    std::vector<RenderImage> animation;
    if (args.skin) {
        rendered = RenderSkinPicture(read.file);
        if (rendered.ok() && sized) rendered = ScaleRenderImage(rendered.image, options.width, options.height);
        what = "the skin";
    } else if (args.animate) {
        rendered = RenderAnimation(read.file, args.every, options, animation);
        what = std::to_string(animation.size()) + " frames at " +
               (args.every > 1 ? std::to_string(fps) + "/" + std::to_string(args.every) : std::to_string(fps)) +
               " frames a second";
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
        return rendered.badRequest ? kExitUsage : kExitFailed;
    }
    std::string error;
    // With --every K each drawn frame stands for K of the file's frames.
    const double shownFps = double(fps) / std::max(1, args.every);
    const bool written =
        args.animate ? WriteAnimatedGif(args.output, animation, GifDelays(int(animation.size()), shownFps), error)
                     : WritePictureFile(args.output, format, rendered.image, error);
    if (!written) {
        std::cerr << "quorvex view: " << error << "\n";
        return kExitFailed;
    }
    const RenderImage& shown = args.animate ? animation.front() : rendered.image;
    std::cout << "wrote " << args.output << ": " << what << ", " << shown.width << "x" << shown.height << "\n";
    return kExitSuccess;
}

}  // namespace

void AddViewCommand(CLI::App& app, int& exitStatus) {
    auto args = std::make_shared<ViewArguments>();
    CLI::App* command = app.add_subcommand(
        "view", "Draw a frame, a sheet of frames, the skin or an animation of a model file into a picture.");
    command->footer(
        "Draw a model file into a picture: one frame, a sheet of frames, the skin, or (--animate) every frame\n"
        "as an animated GIF. The model is drawn textured with its skin and lit by its stored normals, from a\n"
        "camera fitted to the bounding boxes of all frames, so every frame appears at the same place and\n"
        "scale. The picture format follows the output's extension: .png, .jpg (or .jpeg), .bmp, .tga, .gif.\n"
        "Exit status: 0 success, 1 malformed model file or the picture cannot be written, 2 bad usage or an\n"
        "unreadable file.");
    command->add_option("FILE", args->path, "The model file (\"MDL3\" or \"MDL4\") to draw.")->required();
    command
        ->add_option("-o,--output", args->output,
                     "The picture to write (.png, .jpg, .bmp, .tga, or .gif with --animate); an\n"
                     "existing file is replaced.")
        ->type_name("OUT.png")
        ->required();
    auto* frame = command
                      ->add_option("--frame", args->frame,
                                   "The frame to draw, counted from 0 (default 0). Use `quorvex info` to list "
                                   "the frames.")
                      ->type_name("N")
                      ->check(CLI::Range(0, INT32_MAX));
    auto* sheet = command->add_flag("--sheet", args->sheet,
                                    "Draw a grid of frames instead of one, each cell labelled with the frame's "
                                    "number and name. Cells are 192x192 pixels unless --size says otherwise.");
    auto* every =
        command
            ->add_option(
                "--every", args->every,
                "With --sheet or --animate, draw every K-th frame (0, K, 2K, ...). By default a sheet takes the\n"
                "smallest step that keeps it within 64 cells, an animation every frame.")
            ->type_name("K")
            ->check(CLI::Range(1, INT32_MAX));
    auto* skin = command->add_flag("--skin", args->skin,
                                   "Write the skin picture itself (every skin, one below the other) instead of "
                                   "drawing the model; --size scales it.");
    auto* animate = command->add_flag("--animate", args->animate,
                                      "Draw every frame (or every K-th with --every) into an animated GIF that loops,\n"
                                      "shown at --fps frames a second.");
    command
        ->add_option("--fps", args->fps,
                     "With --animate, the file's frame rate: frames a second, a divisor of 4800 (default 30, the\n"
                     "rate imported scenes are sampled at unless export --fps said otherwise).")
        ->type_name("N")
        ->needs(animate);
    command
        ->add_option("--size", args->size,
                     "Picture size WxH in pixels, each side 1.." + std::to_string(kRenderMaxSide) +
                         " (default 512x512); with --sheet, the size of each cell; with --skin, the skin scaled.")
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
    animate->excludes(frame);
    animate->excludes(sheet);
    animate->excludes(skin);
    command->callback([args, every, &exitStatus] {
        exitStatus = every->count() && !args->sheet && !args->animate ? ViewUsage("--every needs --sheet or --animate")
                                                                      : RunView(*args);
    });
}

}  // namespace quorvex::cli

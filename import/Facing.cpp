#include "import/Facing.h"

#include <algorithm>
#include <cctype>

#include "import/Importer.h"

namespace quorvex::importer {

bool ParseSignedAxis(const std::string& text, SignedAxis& out) {
    std::string t = text;
    std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    int sign = 1;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        sign = t[0] == '-' ? -1 : 1;
        t.erase(0, 1);
    }
    if (t.size() != 1 || t[0] < 'x' || t[0] > 'z') return false;
    out = {t[0] - 'x', sign};
    return true;
}

std::string AxisText(SignedAxis a) {
    if (!a.Given()) return "";
    return std::string(a.sign < 0 ? "-" : "+") + static_cast<char>('x' + a.axis);
}

SignedAxis DefaultForward(SignedAxis up) {
    if (up.axis == 1) return {2, up.sign};
    if (up.axis == 2) return {1, -up.sign};
    return {1, -1};
}

Mat4d FacingTurn(SignedAxis up, SignedAxis forward) {
    double u[3] = {0, 0, 0}, f[3] = {0, 0, 0};
    u[up.axis] = up.sign;
    f[forward.axis] = forward.sign;
    const double left[3] = {u[1] * f[2] - u[2] * f[1], u[2] * f[0] - u[0] * f[2], u[0] * f[1] - u[1] * f[0]};
    Mat4d m;
    for (int c = 0; c < 3; ++c) {
        // + 0.0 turns a -0 into 0: the sign of a zero can reach the file.
        m.m[0][c] = left[c] + 0.0;
        m.m[1][c] = -f[c] + 0.0;
        m.m[2][c] = u[c] + 0.0;
    }
    return m;
}

// The signed axis a row of a signed permutation picks.
static bool RowAxis(const double row[4], SignedAxis& out) {
    int found = -1;
    for (int c = 0; c < 3; ++c) {
        if (row[c] == 0.0) continue;
        if ((row[c] != 1.0 && row[c] != -1.0) || found >= 0) return false;
        found = c;
    }
    if (found < 0) return false;
    out = {found, row[found] < 0 ? -1 : 1};
    return true;
}

bool FacingOf(const Mat4d& turn, SignedAxis& up, SignedAxis& forward) {
    SignedAxis u, back;
    if (!RowAxis(turn.m[2], u) || !RowAxis(turn.m[1], back) || u.axis == back.axis) return false;
    up = u;
    forward = {back.axis, -back.sign};
    return true;
}

bool ChooseFacing(const Mat4d& own, SignedAxis up, SignedAxis forward, Mat4d& turn, std::string& error) {
    SignedAxis ownUp{2, 1}, ownForward{1, -1};
    if (!FacingOf(own, ownUp, ownForward)) {
        ownUp = {2, 1};
        ownForward = {1, -1};
    }
    const SignedAxis u = up.Given() ? up : ownUp;
    SignedAxis f = forward;
    if (!f.Given()) f = ownForward.axis != u.axis ? ownForward : DefaultForward(u);
    if (f.axis == u.axis) {
        error = "the front " + AxisText(f) + " is parallel to the up axis " + AxisText(u) +
                (up.Given() ? "" : " of the file") + "; give --up and --forward along different axes";
        return false;
    }
    turn = FacingTurn(u, f);
    return true;
}

namespace {

struct FormatAxes {
    const char* extension;
    SignedAxis up, front;
};

// The axes of the formats that do not arrive Y-up with the front +Z, as
// Assimp hands them over. Source engine files (SMD, VTA) face +X, Z up;
// STL, Blender and DXF files are Z-up with the front -Y, as their programs
// draw them; AC3D files are Y-up with the nose towards -X. Doom 3 meshes face
// +X, Z up, and Assimp stands them Y-up. (3DS files are Z-up too, but Assimp
// turns them Y-up itself.)
constexpr FormatAxes kFormatAxes[] = {
    {".smd", {2, 1}, {0, 1}},    {".vta", {2, 1}, {0, 1}},   {".stl", {2, 1}, {1, -1}},
    {".blend", {2, 1}, {1, -1}}, {".dxf", {2, 1}, {1, -1}},  {".ac", {1, 1}, {0, -1}},
    {".acc", {1, 1}, {0, -1}},   {".ac3d", {1, 1}, {0, -1}}, {".md5mesh", {1, 1}, {0, 1}},
};

}  // namespace

Mat4d AssimpFileFacing(const std::string& path, SignedAxis statedUp, SignedAxis statedFront) {
    SignedAxis up{1, 1}, front{2, 1};
    const std::string ext = LowerExtension(path);
    for (const FormatAxes& f : kFormatAxes) {
        if (ext == f.extension) {
            up = f.up;
            front = f.front;
        }
    }
    if (statedUp.Given()) {
        up = statedUp;
        front = statedFront.Given() && statedFront.axis != up.axis ? statedFront : DefaultForward(up);
    }
    return FacingTurn(up, front);
}

}  // namespace quorvex::importer

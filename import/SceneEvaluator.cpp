#include "import/SceneEvaluator.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "scene/Limits.h"

namespace quorvex::importer {
using quorvex::scene::ConvertMode;
using quorvex::scene::Keyed;
using quorvex::scene::kMaxFrameSamples;
using quorvex::scene::LoadError;
using quorvex::scene::LoadErrorKind;
using quorvex::scene::MapData;
using quorvex::scene::MapKind;
using quorvex::scene::MaterialData;
using quorvex::scene::MaterialKind;
using quorvex::scene::MeshData;
using quorvex::scene::NodeData;
using quorvex::scene::NoteKeyData;
using quorvex::scene::ObjectData;
using quorvex::scene::ObjectKind;
using quorvex::scene::SceneDocument;
using quorvex::scene::SharedList;

// ---------------------------------------------------------------------------
// Matrix helpers

Mat4d operator*(const Mat4d& a, const Mat4d& b) {
    Mat4d c;
    for (int r = 0; r < 4; ++r) {
        for (int k = 0; k < 4; ++k) {
            double sum = 0.0;
            for (int i = 0; i < 4; ++i) sum += a.m[r][i] * b.m[i][k];
            c.m[r][k] = sum;
        }
    }
    return c;
}

Vec3d TransformPoint(const Mat4d& m, const Vec3d& p) {
    return {m.m[0][0] * p.x + m.m[0][1] * p.y + m.m[0][2] * p.z + m.m[0][3],
            m.m[1][0] * p.x + m.m[1][1] * p.y + m.m[1][2] * p.z + m.m[1][3],
            m.m[2][0] * p.x + m.m[2][1] * p.y + m.m[2][2] * p.z + m.m[2][3]};
}

static Quatd Normalized(const Quatd& q) {
    const double len = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    if (!(len > 0.0) || !std::isfinite(len)) return Quatd{};
    return {q.x / len, q.y / len, q.z / len, q.w / len};
}

Mat4d ComposeTrs(const Vec3d& t, const Quatd& rotation, const Vec3d& s) {
    const Quatd q = Normalized(rotation);
    const double xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    const double xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    const double wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
    Mat4d m;
    m.m[0][0] = (1 - 2 * (yy + zz)) * s.x;
    m.m[0][1] = (2 * (xy - wz)) * s.y;
    m.m[0][2] = (2 * (xz + wy)) * s.z;
    m.m[1][0] = (2 * (xy + wz)) * s.x;
    m.m[1][1] = (1 - 2 * (xx + zz)) * s.y;
    m.m[1][2] = (2 * (yz - wx)) * s.z;
    m.m[2][0] = (2 * (xz - wy)) * s.x;
    m.m[2][1] = (2 * (yz + wx)) * s.y;
    m.m[2][2] = (1 - 2 * (xx + yy)) * s.z;
    m.m[0][3] = t.x;
    m.m[1][3] = t.y;
    m.m[2][3] = t.z;
    return m;
}

std::optional<Mat4d> InverseAffine(const Mat4d& m) {
    const double(*a)[4] = m.m;
    const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    if (det == 0.0 || !std::isfinite(det)) return std::nullopt;
    const double inv = 1.0 / det;
    Mat4d r;
    r.m[0][0] = c00 * inv;
    r.m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * inv;
    r.m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * inv;
    r.m[1][0] = c01 * inv;
    r.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * inv;
    r.m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * inv;
    r.m[2][0] = c02 * inv;
    r.m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * inv;
    r.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * inv;
    for (int i = 0; i < 3; ++i) {
        r.m[i][3] = -(r.m[i][0] * a[0][3] + r.m[i][1] * a[1][3] + r.m[i][2] * a[2][3]);
    }
    return r;
}

// Splits an affine matrix into translation, rotation and scale, for the rare
// node that has a rest matrix and is animated all the same: the animated
// components replace their parts and the others keep the matrix's.
static void Decompose(const Mat4d& m, Vec3d& t, Quatd& q, Vec3d& s) {
    t = {m.m[0][3], m.m[1][3], m.m[2][3]};
    double col[3][3];
    double len[3];
    for (int c = 0; c < 3; ++c) {
        len[c] = std::sqrt(m.m[0][c] * m.m[0][c] + m.m[1][c] * m.m[1][c] + m.m[2][c] * m.m[2][c]);
        for (int r = 0; r < 3; ++r) col[c][r] = len[c] > 0.0 ? m.m[r][c] / len[c] : (r == c ? 1.0 : 0.0);
    }
    const double det = col[0][0] * (col[1][1] * col[2][2] - col[2][1] * col[1][2]) -
                       col[1][0] * (col[0][1] * col[2][2] - col[2][1] * col[0][2]) +
                       col[2][0] * (col[0][1] * col[1][2] - col[1][1] * col[0][2]);
    if (det < 0.0) {  // a mirror: carry it in the x scale
        len[0] = -len[0];
        for (int r = 0; r < 3; ++r) col[0][r] = -col[0][r];
    }
    s = {len[0], len[1], len[2]};
    // Rotation matrix entries R[r][c] = col[c][r].
    const double r00 = col[0][0], r11 = col[1][1], r22 = col[2][2];
    const double trace = r00 + r11 + r22;
    if (trace > 0.0) {
        const double k = 0.5 / std::sqrt(trace + 1.0);
        q = {(col[1][2] - col[2][1]) * k, (col[2][0] - col[0][2]) * k, (col[0][1] - col[1][0]) * k, 0.25 / k};
    } else if (r00 > r11 && r00 > r22) {
        const double k = 2.0 * std::sqrt(1.0 + r00 - r11 - r22);
        q = {0.25 * k, (col[1][0] + col[0][1]) / k, (col[2][0] + col[0][2]) / k, (col[1][2] - col[2][1]) / k};
    } else if (r11 > r22) {
        const double k = 2.0 * std::sqrt(1.0 + r11 - r00 - r22);
        q = {(col[1][0] + col[0][1]) / k, 0.25 * k, (col[2][1] + col[1][2]) / k, (col[2][0] - col[0][2]) / k};
    } else {
        const double k = 2.0 * std::sqrt(1.0 + r22 - r00 - r11);
        q = {(col[2][0] + col[0][2]) / k, (col[2][1] + col[1][2]) / k, 0.25 * k, (col[0][1] - col[1][0]) / k};
    }
}

// ---------------------------------------------------------------------------
// Track sampling

int64_t ClipFrameCount(double duration, int fps) {
    if (!(duration > 0.0)) return 1;
    const double frames = duration * static_cast<double>(fps);
    if (!std::isfinite(frames) || frames > 1e15) return INT64_MAX;
    return static_cast<int64_t>(std::ceil(frames - 1e-6)) + 1;
}

static void Slerp(const double* a, const double* b, double s, double* out) {
    double bq[4] = {b[0], b[1], b[2], b[3]};
    double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    if (dot < 0.0) {  // the shorter way round
        dot = -dot;
        for (double& v : bq) v = -v;
    }
    double wa, wb;
    if (dot > 0.9995) {  // nearly parallel: the arc is a line
        wa = 1.0 - s;
        wb = s;
    } else {
        const double theta = std::acos(dot);
        const double sinTheta = std::sin(theta);
        wa = std::sin((1.0 - s) * theta) / sinTheta;
        wb = std::sin(s * theta) / sinTheta;
    }
    for (int i = 0; i < 4; ++i) out[i] = wa * a[i] + wb * bq[i];
}

std::vector<double> SampleTrack(const AnimTrack& track, double seconds) {
    const size_t w = track.width;
    std::vector<double> out(w, 0.0);
    const size_t n = track.times.size();
    const bool cubic = track.interpolation == Interpolation::CubicSpline;
    const size_t stride = cubic ? 3 * w : w;
    if (n == 0 || track.values.size() < n * stride) return out;
    auto value = [&](size_t k) { return &track.values[k * stride + (cubic ? w : 0)]; };

    size_t k = 0;
    double s = 0.0;
    bool between = false;
    if (seconds <= track.times.front()) {
        k = 0;
    } else if (seconds >= track.times.back()) {
        k = n - 1;
    } else {
        k = static_cast<size_t>(std::upper_bound(track.times.begin(), track.times.end(), seconds) -
                                track.times.begin()) -
            1;
        const double span = track.times[k + 1] - track.times[k];
        s = span > 0.0 ? (seconds - track.times[k]) / span : 0.0;
        between = true;
    }

    if (!between || track.interpolation == Interpolation::Step) {
        std::copy(value(k), value(k) + w, out.begin());
    } else if (track.interpolation == Interpolation::Linear) {
        if (track.target == TrackTarget::Rotation && w == 4) {
            Slerp(value(k), value(k + 1), s, out.data());
        } else {
            for (size_t i = 0; i < w; ++i) out[i] = value(k)[i] * (1.0 - s) + value(k + 1)[i] * s;
        }
    } else {
        const double span = track.times[k + 1] - track.times[k];
        const double s2 = s * s, s3 = s2 * s;
        const double h00 = 2 * s3 - 3 * s2 + 1, h10 = s3 - 2 * s2 + s;
        const double h01 = -2 * s3 + 3 * s2, h11 = s3 - s2;
        const double* v0 = value(k);
        const double* v1 = value(k + 1);
        const double* out0 = &track.values[k * stride + 2 * w];  // out-tangent of key k
        const double* in1 = &track.values[(k + 1) * stride];     // in-tangent of key k+1
        for (size_t i = 0; i < w; ++i) {
            out[i] = h00 * v0[i] + h10 * span * out0[i] + h01 * v1[i] + h11 * span * in1[i];
        }
    }
    if (track.target == TrackTarget::Rotation && w == 4) {
        const Quatd q = Normalized({out[0], out[1], out[2], out[3]});
        out = {q.x, q.y, q.z, q.w};
    }
    return out;
}

// ---------------------------------------------------------------------------
// Welding: vertices that differ only in texture coordinates (or attributes we
// do not carry, such as normals) become one, so that a seam costs texture
// vertices and not vertices in every frame.

namespace {

struct WeldedMesh {
    std::vector<Vec3d> positions;
    std::vector<std::vector<SkinInfluence>> influences;  // empty or one per position
    std::vector<std::vector<Vec3d>> morphTargets;
    // Shared with every key of every host mesh made from it.
    SharedList<std::array<uint32_t, 3>> faces;
    SharedList<Point3> tverts;
    SharedList<std::array<uint32_t, 3>> tvfaces;
};

void AppendBytes(std::string& key, double v) {
    v += 0.0;  // -0 and +0 are the same position
    char bytes[sizeof v];
    std::memcpy(bytes, &v, sizeof v);
    key.append(bytes, sizeof v);
}

// Influences sorted by joint, repeated joints merged, zero weights dropped.
std::vector<SkinInfluence> Canonical(std::vector<SkinInfluence> list) {
    std::sort(list.begin(), list.end(),
              [](const SkinInfluence& a, const SkinInfluence& b) { return a.joint < b.joint; });
    std::vector<SkinInfluence> merged;
    for (const SkinInfluence& inf : list) {
        if (inf.weight == 0.0) continue;
        if (!merged.empty() && merged.back().joint == inf.joint) {
            merged.back().weight += inf.weight;
        } else {
            merged.push_back(inf);
        }
    }
    return merged;
}

WeldedMesh Weld(const AnimMesh& mesh) {
    WeldedMesh out;
    const size_t n = mesh.positions.size();
    std::vector<uint32_t> vertexOf(n, 0);
    std::unordered_map<std::string, uint32_t> seen;
    for (size_t i = 0; i < n; ++i) {
        std::string key;
        const Vec3d& p = mesh.positions[i];
        AppendBytes(key, p.x);
        AppendBytes(key, p.y);
        AppendBytes(key, p.z);
        std::vector<SkinInfluence> inf;
        if (!mesh.influences.empty()) {
            inf = Canonical(mesh.influences[i]);
            AppendBytes(key, static_cast<double>(inf.size()));
            for (const SkinInfluence& s : inf) {
                AppendBytes(key, static_cast<double>(s.joint));
                AppendBytes(key, s.weight);
            }
        }
        for (const auto& target : mesh.morphTargets) {
            AppendBytes(key, target[i].x);
            AppendBytes(key, target[i].y);
            AppendBytes(key, target[i].z);
        }
        auto [it, inserted] = seen.emplace(std::move(key), static_cast<uint32_t>(out.positions.size()));
        if (inserted) {
            out.positions.push_back(p);
            if (!mesh.influences.empty()) out.influences.push_back(std::move(inf));
        }
        vertexOf[i] = it->second;
    }
    out.morphTargets.resize(mesh.morphTargets.size());
    for (size_t t = 0; t < mesh.morphTargets.size(); ++t) {
        out.morphTargets[t].resize(out.positions.size());
        for (size_t i = 0; i < n; ++i) out.morphTargets[t][vertexOf[i]] = mesh.morphTargets[t][i];
    }

    std::vector<uint32_t> tvertOf;
    if (!mesh.uvs.empty()) {
        tvertOf.resize(n);
        std::unordered_map<std::string, uint32_t> seenUv;
        for (size_t i = 0; i < n; ++i) {
            const Point3 tv{static_cast<float>(mesh.uvs[i][0]), static_cast<float>(mesh.uvs[i][1]), 0.0f};
            std::string key;
            AppendBytes(key, tv.x);
            AppendBytes(key, tv.y);
            auto [it, inserted] = seenUv.emplace(std::move(key), static_cast<uint32_t>(out.tverts.size()));
            if (inserted) out.tverts.push_back(tv);
            tvertOf[i] = it->second;
        }
    }
    for (const auto& tri : mesh.triangles) {
        out.faces.push_back({vertexOf[tri[0]], vertexOf[tri[1]], vertexOf[tri[2]]});
        if (!tvertOf.empty()) out.tvfaces.push_back({tvertOf[tri[0]], tvertOf[tri[1]], tvertOf[tri[2]]});
    }
    return out;
}

Matrix3 ToHost(const Mat4d& m) {
    Matrix3 r;
    for (int axis = 0; axis < 4; ++axis) {
        r.row[axis] = {static_cast<float>(m.m[0][axis]), static_cast<float>(m.m[1][axis]),
                       static_cast<float>(m.m[2][axis])};
    }
    return r;
}

Point3 ToPoint(const Vec3d& p) { return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)}; }

bool SameMatrix(const Matrix3& a, const Matrix3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct FramePose {
    std::vector<Mat4d> world;                  // per node, including the upright turn and scale
    std::vector<Mat4d> local;                  // per node as the host gets it (roots: with the turn)
    std::vector<std::vector<double>> weights;  // per node
};

struct Sampler {
    const AnimatedScene& scene;
    Mat4d rootTurn;
    std::vector<int> order;  // parents before children

    explicit Sampler(const AnimatedScene& s, const Mat4d& turn) : scene(s), rootTurn(turn) {
        std::vector<int> stack(scene.roots.rbegin(), scene.roots.rend());
        std::vector<bool> visited(scene.nodes.size(), false);
        while (!stack.empty()) {
            const int n = stack.back();
            stack.pop_back();
            if (n < 0 || static_cast<size_t>(n) >= scene.nodes.size() || visited[n]) continue;
            visited[n] = true;
            order.push_back(n);
            const auto& children = scene.nodes[n].children;
            for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
        }
    }

    std::vector<double> RestWeights(int node) const {
        const AnimNode& n = scene.nodes[node];
        if (!n.weights.empty()) return n.weights;
        size_t count = 0;
        std::vector<double> w;
        for (const MeshInstance& inst : n.meshes) {
            const AnimMesh& mesh = scene.meshes[inst.mesh];
            count = std::max(count, mesh.morphTargets.size());
            if (w.empty()) w = mesh.defaultWeights;
        }
        w.resize(std::max(count, w.size()), 0.0);
        return w;
    }

    // The pose at `seconds` into `clip` (null: the rest pose).
    FramePose Pose(const AnimClip* clip, double seconds) const {
        const size_t count = scene.nodes.size();
        FramePose pose;
        pose.world.resize(count);
        pose.local.resize(count);
        pose.weights.resize(count);
        struct Override {
            const AnimTrack* t = nullptr;
            const AnimTrack* r = nullptr;
            const AnimTrack* s = nullptr;
            const AnimTrack* w = nullptr;
        };
        std::vector<Override> overrides(count);
        if (clip) {
            for (const AnimTrack& track : clip->tracks) {
                if (track.node < 0 || static_cast<size_t>(track.node) >= count) continue;
                Override& o = overrides[track.node];
                switch (track.target) {
                    case TrackTarget::Translation: o.t = &track; break;
                    case TrackTarget::Rotation: o.r = &track; break;
                    case TrackTarget::Scale: o.s = &track; break;
                    case TrackTarget::Weights: o.w = &track; break;
                }
            }
        }
        for (int n : order) {
            const AnimNode& node = scene.nodes[n];
            const Override& o = overrides[n];
            Mat4d local;
            if (node.matrix && !o.t && !o.r && !o.s) {
                local = *node.matrix;
            } else {
                Vec3d t = node.translation, s = node.scale;
                Quatd r = node.rotation;
                if (node.matrix) Decompose(*node.matrix, t, r, s);
                if (o.t && o.t->width == 3) {
                    const auto v = SampleTrack(*o.t, seconds);
                    t = {v[0], v[1], v[2]};
                }
                if (o.r && o.r->width == 4) {
                    const auto v = SampleTrack(*o.r, seconds);
                    r = {v[0], v[1], v[2], v[3]};
                }
                if (o.s && o.s->width == 3) {
                    const auto v = SampleTrack(*o.s, seconds);
                    s = {v[0], v[1], v[2]};
                }
                local = ComposeTrs(t, r, s);
            }
            if (node.parent < 0) {
                local = rootTurn * local;
                pose.world[n] = local;
            } else {
                pose.world[n] = pose.world[node.parent] * local;
            }
            pose.local[n] = local;
            pose.weights[n] = o.w ? SampleTrack(*o.w, seconds) : RestWeights(n);
        }
        return pose;
    }

    // The mesh's vertices in the object space of the host node that carries
    // it, whose world transform is pose.world[node].
    std::vector<Point3> Vertices(const WeldedMesh& mesh, const MeshInstance& inst, int node,
                                 const FramePose& pose) const {
        const std::vector<double>& weights = pose.weights[node];
        std::vector<Point3> out(mesh.positions.size());
        const AnimSkin* skin = inst.skin >= 0 ? &scene.skins[inst.skin] : nullptr;
        std::vector<Mat4d> jointMatrices;
        std::optional<Mat4d> toObject;
        if (skin) {
            for (size_t j = 0; j < skin->joints.size(); ++j) {
                const int jn = skin->joints[j];
                const Mat4d& world =
                    (jn >= 0 && static_cast<size_t>(jn) < pose.world.size()) ? pose.world[jn] : Mat4d{};
                jointMatrices.push_back(j < skin->inverseBind.size() ? world * skin->inverseBind[j] : world);
            }
            // The skinned result is in world space; the node's own transform
            // does not move it, so take it back into the node's object space
            // for the host to apply again.
            toObject = InverseAffine(pose.world[node]);
        }
        for (size_t i = 0; i < mesh.positions.size(); ++i) {
            Vec3d p = mesh.positions[i];
            for (size_t t = 0; t < mesh.morphTargets.size(); ++t) {
                const double w = t < weights.size() ? weights[t] : 0.0;
                if (w == 0.0) continue;
                p.x += w * mesh.morphTargets[t][i].x;
                p.y += w * mesh.morphTargets[t][i].y;
                p.z += w * mesh.morphTargets[t][i].z;
            }
            if (skin) {
                double total = 0.0;
                Vec3d sum;
                // A skinned mesh may come without any weights at all.
                static const std::vector<SkinInfluence> kNone;
                for (const SkinInfluence& inf : i < mesh.influences.size() ? mesh.influences[i] : kNone) {
                    if (inf.joint >= jointMatrices.size()) continue;
                    const Vec3d q = TransformPoint(jointMatrices[inf.joint], p);
                    sum.x += inf.weight * q.x;
                    sum.y += inf.weight * q.y;
                    sum.z += inf.weight * q.z;
                    total += inf.weight;
                }
                Vec3d world;
                if (total > 0.0) {
                    // Weights that do not quite sum to one (quantised in the
                    // file) are normalised, as viewers do.
                    world = {sum.x / total, sum.y / total, sum.z / total};
                } else {
                    world = TransformPoint(rootTurn, p);  // unweighted: the bind pose
                }
                p = toObject ? TransformPoint(*toObject, world) : world;
            }
            out[i] = ToPoint(p);
        }
        return out;
    }
};

struct HostMesh {
    int node;  // scene node whose pose moves it
    MeshInstance inst;
    WeldedMesh* welded;
    NodeData* host;  // the host node that carries it
    bool animated;
};

// The frames of the chosen clips, one clip after another.
struct Timeline {
    struct Slot {
        const AnimClip* clip;
        double seconds;
    };
    std::vector<const AnimClip*> clips;
    std::vector<Slot> frames;
    std::vector<int64_t> firstFrames;  // each clip's first frame
    int32_t ticksPerFrame = 0;
    TimeValue TimeOf(size_t f) const { return static_cast<TimeValue>(static_cast<int64_t>(f) * ticksPerFrame); }
};

// Checks the options and lays out the frames of the clips they choose.
bool LayOutFrames(const AnimatedScene& scene, const ImportOptions& options, Timeline& timeline, LoadError& error) {
    if (!ValidFps(options.fps)) {
        error = {LoadErrorKind::OptionsDoNotFit, FpsProblem(options.fps)};
        return false;
    }
    if (!std::isfinite(options.scale) || options.scale == 0.0) {
        error = {LoadErrorKind::OptionsDoNotFit, "the scale must be a finite number other than 0"};
        return false;
    }
    for (const std::string& name : options.clips) {
        const bool found =
            std::any_of(scene.clips.begin(), scene.clips.end(), [&](const AnimClip& c) { return c.name == name; });
        if (!found) {
            error = {LoadErrorKind::OptionsDoNotFit, "no clip named \"" + name + "\""};
            return false;
        }
    }
    std::vector<const AnimClip*>& clips = timeline.clips;
    for (const AnimClip& c : scene.clips) {
        if (options.clips.empty() ||
            std::find(options.clips.begin(), options.clips.end(), c.name) != options.clips.end()) {
            clips.push_back(&c);
        }
    }

    const int32_t ticksPerFrame = kTicksPerSecond / options.fps;
    timeline.ticksPerFrame = ticksPerFrame;
    std::vector<Timeline::Slot>& frames = timeline.frames;
    const int64_t maxFrames = static_cast<int64_t>(INT32_MAX) / ticksPerFrame + 1;
    for (const AnimClip* clip : clips) {
        const int64_t count = ClipFrameCount(clip->duration, options.fps);
        if (count > maxFrames - static_cast<int64_t>(frames.size())) {
            error = {LoadErrorKind::OverLimit, "the clips take more frames than the host's timeline holds at " +
                                                   std::to_string(options.fps) + " frames per second"};
            return false;
        }
        // Checked before the frames are laid out: every node is held at every frame.
        const uint64_t nodes = std::max<uint64_t>(scene.nodes.size(), 1);
        if (static_cast<uint64_t>(count) + frames.size() > kMaxFrameSamples / nodes) {
            error = {LoadErrorKind::OverLimit, "clip \"" + clip->name + "\" ends at frame " +
                                                   std::to_string(frames.size() + count - 1) + " of " +
                                                   std::to_string(nodes) + " nodes; at most " +
                                                   std::to_string(kMaxFrameSamples) + " node frames are sampled"};
            return false;
        }
        timeline.firstFrames.push_back(static_cast<int64_t>(frames.size()));
        for (int64_t k = 0; k < count; ++k) {
            frames.push_back({clip, static_cast<double>(k) / static_cast<double>(options.fps)});
        }
    }
    if (frames.empty()) frames.push_back({nullptr, 0.0});
    return true;
}

MaterialData MaterialFor(const AnimatedScene& scene, const AnimMesh& mesh) {
    MaterialData mat;
    mat.kind = MaterialKind::Standard;
    if (mesh.material >= 0 && static_cast<size_t>(mesh.material) < scene.materials.size() &&
        !scene.materials[mesh.material].diffuseMap.empty()) {
        mat.diffuse = MapData{MapKind::Bitmap, scene.materials[mesh.material].diffuseMap};
    }
    return mat;
}

// The host's node tree made from the scene's, with the meshes each host node
// carries recorded in `meshes`.
struct HostTree {
    const AnimatedScene& scene;
    const Timeline& timeline;
    const std::vector<FramePose>& poses;
    std::vector<WeldedMesh>& welded;
    std::vector<HostMesh> meshes;

    // Fills the host node of scene node `n` and sizes its children, returning
    // how many of them carry its meshes; the scene's children fill the rest.
    // Every vector of host nodes is sized before its nodes are filled, so the
    // carriers recorded in `meshes` stay where they are.
    size_t Fill(int n, NodeData& host) {
        const AnimNode& node = scene.nodes[n];
        host.name = node.name;
        host.hidden = node.hidden;
        // The local transform, keyed at every frame when it changes.
        Keyed<Matrix3> keyed;
        for (size_t f = 0; f < timeline.frames.size(); ++f) {
            const Matrix3 m = ToHost(poses[f].local[n]);
            if (f == 0 || !SameMatrix(m, keyed.keys.back().value)) keyed.keys.push_back({timeline.TimeOf(f), m});
        }
        host.transform = keyed.keys.size() == 1 ? Keyed<Matrix3>(keyed.keys[0].value) : keyed;

        const size_t meshCount = node.meshes.size();
        const size_t extra = meshCount > 1 ? meshCount : 0;
        host.children.resize(extra + node.children.size());
        if (meshCount == 1) {
            Carry(n, host, node.meshes[0]);
        } else {
            if (meshCount == 0) host.object = ObjectData{ObjectKind::Helper, ConvertMode::Copy, MeshData{}};
            for (size_t k = 0; k < meshCount; ++k) {
                NodeData& child = host.children[k];
                child.name = node.name + "_" + std::to_string(k);
                child.hidden = node.hidden;
                Carry(n, child, node.meshes[k]);
            }
        }
        return extra;
    }

    void Carry(int n, NodeData& carrier, const MeshInstance& inst) {
        const AnimMesh& mesh = scene.meshes[inst.mesh];
        carrier.material = MaterialFor(scene, mesh);
        ObjectData obj;
        obj.kind = ObjectKind::Mesh;
        obj.convert = ConvertMode::Copy;
        carrier.object = obj;
        const bool animated = inst.skin >= 0 || !mesh.morphTargets.empty();
        meshes.push_back({n, inst, &welded[inst.mesh], &carrier, animated});
    }

    // Fills `roots` (sized by the caller, one per scene root) and everything
    // under them. Without recursion, so that the depth of the hierarchy is
    // bounded by memory, not by the stack. Loaders refuse cycles with their
    // place; a path longer than the node count still stops here rather than never.
    bool Build(std::vector<NodeData>& roots, LoadError& error) {
        struct Pending {
            int node;
            NodeData* host;
            size_t depth;
        };
        std::vector<Pending> pending;
        for (size_t r = scene.roots.size(); r-- > 0;) pending.push_back({scene.roots[r], &roots[r], 1});
        while (!pending.empty()) {
            const Pending p = pending.back();
            pending.pop_back();
            if (p.node < 0 || static_cast<size_t>(p.node) >= scene.nodes.size()) continue;
            if (p.depth > scene.nodes.size()) {
                error = {LoadErrorKind::Malformed,
                         "the node hierarchy has a cycle through node " + std::to_string(p.node)};
                return false;
            }
            const size_t extra = Fill(p.node, *p.host);
            const std::vector<int>& children = scene.nodes[p.node].children;
            for (size_t c = children.size(); c-- > 0;) {
                pending.push_back({children[c], &p.host->children[extra + c], p.depth + 1});
            }
        }
        return true;
    }
};

// Each carried mesh's vertices: once when nothing moves them, else at every frame.
void KeyHostMeshes(const Sampler& sampler, const Timeline& timeline, const std::vector<FramePose>& poses,
                   const std::vector<HostMesh>& hostMeshes) {
    for (const HostMesh& hm : hostMeshes) {
        MeshData base;
        base.faces = hm.welded->faces;
        base.tverts = hm.welded->tverts;
        base.tvfaces = hm.welded->tvfaces;
        Keyed<MeshData> keyed;
        if (!hm.animated) {
            for (const Vec3d& p : hm.welded->positions) base.verts.push_back(ToPoint(p));
            keyed = Keyed<MeshData>(std::move(base));
        } else {
            keyed.keys.reserve(timeline.frames.size());
            for (size_t f = 0; f < timeline.frames.size(); ++f) {
                MeshData m = base;
                m.verts = sampler.Vertices(*hm.welded, hm.inst, hm.node, poses[f]);
                keyed.keys.push_back({timeline.TimeOf(f), std::move(m)});
            }
            for (const Vec3d& p : hm.welded->positions) hm.host->object->restPose.push_back(ToPoint(p));
        }
        hm.host->object->mesh = std::move(keyed);
    }
}

}  // namespace

bool SampleScene(const AnimatedScene& scene, const ImportOptions& options, SceneDocument& out, LoadError& error) {
    Timeline timeline;
    if (!LayOutFrames(scene, options, timeline, error)) return false;
    const std::vector<const AnimClip*>& clips = timeline.clips;

    Mat4d turn;
    for (int i = 0; i < 3; ++i) turn.m[i][i] = options.scale;
    if (options.upFix) turn = turn * scene.toZUp;

    const Sampler sampler(scene, turn);
    std::vector<WeldedMesh> welded;
    welded.reserve(scene.meshes.size());
    for (const AnimMesh& mesh : scene.meshes) welded.push_back(Weld(mesh));

    SceneDocument doc;
    doc.ticksPerFrame = timeline.ticksPerFrame;
    doc.animRange = {
        0, static_cast<TimeValue>((static_cast<int64_t>(timeline.frames.size()) - 1) * timeline.ticksPerFrame)};
    doc.images = scene.pictures;
    doc.baseDir = scene.baseDir;

    std::vector<FramePose> poses;
    poses.reserve(timeline.frames.size());
    for (const Timeline::Slot& f : timeline.frames) poses.push_back(sampler.Pose(f.clip, f.seconds));

    HostTree tree{scene, timeline, poses, welded, {}};
    doc.nodes.resize(scene.roots.size() + (clips.empty() ? 0 : 1));
    if (!tree.Build(doc.nodes, error)) return false;
    KeyHostMeshes(sampler, timeline, poses, tree.meshes);

    if (!clips.empty()) {
        NodeData& names = doc.nodes.back();
        names.name = "FrameNames";
        names.object = ObjectData{ObjectKind::Helper, ConvertMode::Copy, MeshData{}};
        std::vector<NoteKeyData> track;
        for (size_t c = 0; c < clips.size(); ++c) {
            track.push_back({timeline.TimeOf(static_cast<size_t>(timeline.firstFrames[c])), clips[c]->name});
        }
        names.noteTracks.push_back(std::move(track));
    }
    out = std::move(doc);
    return true;
}

}  // namespace quorvex::importer

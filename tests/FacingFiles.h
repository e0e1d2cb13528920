// The marked shape (VertexFrameFiles.h) written in the formats Assimp reads,
// laid out along whatever axes a test names as the source's up and front, so
// that a test can check each format is stood the same way round.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "VertexFrameFiles.h"

namespace vftest {

using Point = std::array<double, 3>;

// The marked shape's points with its nose along `front`, its top along `up`
// and its left along up x front (unit vectors of the source's axes).
inline std::vector<Point> MarkedAlong(Point up, Point front) {
    const Point left = {up[1] * front[2] - up[2] * front[1], up[2] * front[0] - up[0] * front[2],
                        up[0] * front[1] - up[1] * front[0]};
    std::vector<Point> out;
    for (const auto& p : MarkedPoints()) {
        Point q{};
        for (int c = 0; c < 3; ++c) q[c] = p[0] * front[c] + p[1] * left[c] + p[2] * up[c];
        out.push_back(q);
    }
    return out;
}

inline std::string Num(double v) {
    char s[32];
    std::snprintf(s, sizeof s, "%g", v + 0.0);
    return s;
}

inline std::string Joined(const std::vector<Point>& points, const char* inner, const char* outer) {
    std::string s;
    for (size_t i = 0; i < points.size(); ++i)
        s += (i ? outer : "") + Num(points[i][0]) + inner + Num(points[i][1]) + inner + Num(points[i][2]);
    return s;
}

inline std::string ObjText(const std::vector<Point>& p) {
    std::string s = "o shape\n";
    for (const Point& v : p) s += "v " + Joined({v}, " ", "") + "\n";
    for (const auto& t : MarkedTriangles())
        s += "f " + std::to_string(t[0] + 1) + " " + std::to_string(t[1] + 1) + " " + std::to_string(t[2] + 1) + "\n";
    return s;
}

inline std::string AcText(const std::vector<Point>& p) {
    std::string s =
        "AC3Db\nMATERIAL \"m\" rgb 1 1 1  amb 1 1 1  emis 0 0 0\n"
        "OBJECT world\nkids 1\nOBJECT poly\nname \"shape\"\nnumvert 4\n" +
        Joined(p, " ", "\n") + "\nnumsurf 4\n";
    for (const auto& t : MarkedTriangles())
        s += "SURF 0x10\nmat 0\nrefs 3\n" + std::to_string(t[0]) + " 0 0\n" + std::to_string(t[1]) + " 0 0\n" +
             std::to_string(t[2]) + " 0 0\n";
    return s + "kids 0\n";
}

inline std::string SmdText(const std::vector<Point>& p) {
    std::string s = "version 1\nnodes\n0 \"shape\" -1\nend\nskeleton\ntime 0\n0 0 0 0 0 0 0\nend\ntriangles\n";
    for (const auto& t : MarkedTriangles()) {
        s += "m\n";
        for (int i : t) s += "0 " + Joined({p[i]}, " ", "") + " 0 0 1 0 0\n";
    }
    return s + "end\n";
}

// A Doom 3 mesh: every vertex one weight on a joint at the origin (Assimp's
// reader wants the blank lines between the sections).
inline std::string Md5MeshText(const std::vector<Point>& p) {
    std::string s =
        "MD5Version 10\ncommandline \"\"\n\nnumJoints 2\nnumMeshes 1\n\njoints {\n"
        "\"origin\" -1 ( 0 0 0 ) ( 0 0 0 )\n\"root\" 0 ( 0 0 0 ) ( 0 0 0 )\n}\n\n"
        "mesh {\nshader \"\"\n\nnumverts 4\n";
    for (size_t i = 0; i < p.size(); ++i) s += "vert " + std::to_string(i) + " ( 0 0 ) " + std::to_string(i) + " 1\n";
    s += "\nnumtris 4\n";
    const auto& tris = MarkedTriangles();
    for (size_t i = 0; i < tris.size(); ++i)
        s += "tri " + std::to_string(i) + " " + std::to_string(tris[i][0]) + " " + std::to_string(tris[i][1]) + " " +
             std::to_string(tris[i][2]) + "\n";
    s += "\nnumweights 4\n";
    for (size_t i = 0; i < p.size(); ++i)
        s += "weight " + std::to_string(i) + " 1 1.0 ( " + Joined({p[i]}, " ", "") + " )\n";
    return s + "}\n";
}

// DirectX files are left-handed: written with z mirrored (and the winding
// with it), as a right-handed source's exporter writes them.
inline std::string XText(std::vector<Point> p) {
    for (Point& v : p) v[2] = -v[2];
    std::string s = "xof 0303txt 0032\nMesh shape {\n4;\n" + Joined(p, ";", ";,\n") + ";;\n4;\n";
    const auto& tris = MarkedTriangles();
    for (size_t i = 0; i < tris.size(); ++i)
        s += "3;" + std::to_string(tris[i][0]) + "," + std::to_string(tris[i][2]) + "," + std::to_string(tris[i][1]) +
             (i + 1 < tris.size() ? ";,\n" : ";;\n");
    return s + "}\n";
}

// ASCII FBX whose axis settings name `up` and `front` (axis 0..2, sign +-1).
inline std::string FbxText(const std::vector<Point>& p, int upAxis, int upSign, int frontAxis, int frontSign) {
    std::string idx;
    for (const auto& t : MarkedTriangles())
        idx += std::to_string(t[0]) + "," + std::to_string(t[1]) + "," + std::to_string(-t[2] - 1) + ",";
    idx.pop_back();
    auto prop = [](const char* name, int v) {
        return std::string("P: \"") + name + "\", \"int\", \"Integer\", \"\"," + std::to_string(v) + "\n";
    };
    return "; FBX 7.4.0 project file\nFBXHeaderExtension: {\nFBXHeaderVersion: 1003\nFBXVersion: 7400\n}\n"
           "GlobalSettings: {\nVersion: 1000\nProperties70: {\n" +
           prop("UpAxis", upAxis) + prop("UpAxisSign", upSign) + prop("FrontAxis", frontAxis) +
           prop("FrontAxisSign", frontSign) +
           "}\n}\nObjects: {\nGeometry: 1, \"Geometry::shape\", \"Mesh\" {\nVertices: *12 {\na: " +
           Joined(p, ",", ",") + "\n}\nPolygonVertexIndex: *12 {\na: " + idx +
           "\n}\n}\nModel: 2, \"Model::shape\", \"Mesh\" {\n}\n}\nConnections: {\nC: \"OO\",1,2\nC: \"OO\",2,0\n}\n";
}

// A 3DS file: chunks of an id and a length that counts its own six bytes.
inline std::string ThreeDsFile(const std::vector<Point>& p) {
    auto chunk = [](uint16_t id, const std::string& body) {
        Writer w;
        w.U16(id);
        w.I32(static_cast<int32_t>(6 + body.size()));
        return w.bytes + body;
    };
    Writer verts, faces;
    verts.U16(static_cast<uint16_t>(p.size()));
    for (const Point& v : p)
        for (double c : v) verts.F32(static_cast<float>(c));
    faces.U16(static_cast<uint16_t>(MarkedTriangles().size()));
    for (const auto& t : MarkedTriangles()) {
        for (int i : t) faces.U16(static_cast<uint16_t>(i));
        faces.U16(0);
    }
    const std::string mesh = chunk(0x4100, chunk(0x4110, verts.bytes) + chunk(0x4120, faces.bytes));
    return chunk(0x4D4D, chunk(0x3D3D, chunk(0x4000, std::string("shape", 6) + mesh)));
}

}  // namespace vftest

#include "plugin/HostServices.h"

Matrix3 operator*(const Matrix3& a, const Matrix3& b) {
    auto col = [](const Point3& p, int c) { return c == 0 ? p.x : (c == 1 ? p.y : p.z); };
    Matrix3 out;
    for (int r = 0; r < 4; ++r) {
        float v[3];
        for (int c = 0; c < 3; ++c) {
            const Point3& ar = a.row[r];
            float s = (ar.x * col(b.row[0], c) + ar.y * col(b.row[1], c)) + ar.z * col(b.row[2], c);
            // The translation row also carries B's translation.
            v[c] = r == 3 ? s + col(b.row[3], c) : s;
        }
        out.row[r] = Point3{v[0], v[1], v[2]};
    }
    return out;
}

namespace {
HostGlobals* g_host = nullptr;
}

HostGlobals* SetHostGlobals(HostGlobals* host) {
    HostGlobals* previous = g_host;
    g_host = host;
    return previous;
}

HostGlobals* GetHostGlobals() { return g_host; }

int GetTicksPerFrame() { return g_host ? g_host->GetTicksPerFrame() : 0; }

void InitCustomControls(HINSTANCE instance) {
    if (g_host) g_host->InitCustomControls(instance);
}

void CenterWindow(HWND window, HWND parent) {
    if (g_host) g_host->CenterWindow(window, parent);
}

BitmapManager* TheManager() { return g_host ? g_host->Manager() : nullptr; }

DefNoteTrack* NewDefaultNoteTrack() { return g_host ? g_host->NewDefaultNoteTrack() : nullptr; }

// The host mesh as the plug-in reads and writes it.
//
// Faces hold three vertex indices, a smoothing-group mask and a flags word
// whose upper 16 bits are the zero-based material ID. Map channels 1..99 hold
// texture vertices and one TVFace per face; channel 0 is the vertex-colour
// channel, reached through the *VertCol / *VCFaces operations.
//
// Worker threads may read a mesh concurrently; only the host's user-interface
// thread resizes or writes it, and never while workers run.
#pragma once

#include <array>
#include <vector>

#include "host/bitarray.h"
#include "host/point3.h"

struct Face {
    DWORD v[3] = {0, 0, 0};
    DWORD smGroup = 0;
    DWORD flags = 0;

    DWORD getSmGroup() const { return smGroup; }
    void setSmGroup(DWORD g) { smGroup = g; }
    int getMatID() const { return static_cast<int>(flags >> 16); }
    void setMatID(int id) { flags = (flags & 0xFFFFu) | (static_cast<DWORD>(id) << 16); }
    void setVerts(DWORD a, DWORD b, DWORD c) { v[0] = a; v[1] = b; v[2] = c; }
};

struct TVFace {
    DWORD t[3] = {0, 0, 0};

    void setTVerts(DWORD a, DWORD b, DWORD c) { t[0] = a; t[1] = b; t[2] = c; }
    bool operator==(const TVFace&) const = default;
};

using UVVert = Point3;
using VertColor = Point3;

inline constexpr int kMaxMapChannels = 100;  // 0 = vertex colours, 1..99 = maps

class Mesh {
public:
    std::vector<Point3> verts;
    std::vector<Face> faces;
    BitArray faceSel;  // one bit per face

    int getNumVerts() const { return static_cast<int>(verts.size()); }
    int getNumFaces() const { return static_cast<int>(faces.size()); }
    void setNumVerts(int n, bool keep = false);
    // Also sizes the face selection and the map faces of every supported channel.
    void setNumFaces(int n, bool keep = false);
    const Point3& getVert(int i) const { return verts[static_cast<size_t>(i)]; }
    void setVert(int i, const Point3& p) { verts[static_cast<size_t>(i)] = p; }

    // Map channels. Out-of-range channels are unsupported and empty.
    bool mapSupport(int mp) const;
    void setMapSupport(int mp, bool support = true);
    int getNumMapVerts(int mp) const;
    void setNumMapVerts(int mp, int n, bool keep = false);
    UVVert* mapVerts(int mp);
    const UVVert* mapVerts(int mp) const;
    TVFace* mapFaces(int mp);
    const TVFace* mapFaces(int mp) const;

    // The vertex-colour channel (map channel 0).
    int getNumVertCol() const { return getNumMapVerts(0); }
    void setNumVertCol(int n, bool keep = false);
    int getNumVCFaces() const;
    // Sets the colour-face count; with keep the first oldCount faces stay.
    void setNumVCFaces(int n, bool keep = false, int oldCount = 0);
    VertColor* vertCol() { return mapVerts(0); }
    const VertColor* vertCol() const { return mapVerts(0); }
    TVFace* vcFace() { return mapFaces(0); }
    const TVFace* vcFace() const { return mapFaces(0); }

private:
    struct MapChannel {
        bool support = false;
        std::vector<UVVert> tv;
        std::vector<TVFace> tf;
    };
    std::array<MapChannel, kMaxMapChannels> maps_;
};

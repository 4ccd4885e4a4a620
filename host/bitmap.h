// The host's bitmap manager and bitmaps, as the plug-in uses them: describe a
// bitmap in a BitmapInfo, have the manager create it, put 16-bit RGBA rows
// into it, let the user choose an output file, then open, write and close
// the output. The host (the standalone command or a test) installs the
// manager with SetBitmapManager; the plug-in reaches it through TheManager().
//
// User-interface thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/runtime.h"

using WORD = std::uint16_t;

// One pixel: four unsigned 16-bit channels, red, green, blue, alpha.
struct BMM_Color_64 {
    WORD r = 0, g = 0, b = 0, a = 0;
    bool operator==(const BMM_Color_64&) const = default;
};

inline constexpr int BMM_TRUE_64 = 7;                 // bitmap type: 16 bits per channel RGBA
inline constexpr std::uint32_t MAP_HAS_ALPHA = 2;     // BitmapInfo flag
inline constexpr std::uint32_t BMM_SINGLEFRAME = static_cast<std::uint32_t>(-2000000);  // Write's frame
inline constexpr int BMMRES_SUCCESS = 0;
inline constexpr int BMMRES_ERRORTAKENCARE = 1;

class BitmapInfo {
public:
    void SetWidth(WORD w) { width_ = w; }
    void SetHeight(WORD h) { height_ = h; }
    void SetType(int t) { type_ = t; }
    void SetFlags(std::uint32_t f) { flags_ |= f; }
    void ResetFlags(std::uint32_t f) { flags_ &= ~f; }
    WORD Width() const { return width_; }
    WORD Height() const { return height_; }
    int Type() const { return type_; }
    std::uint32_t Flags() const { return flags_; }
    // The output file, as chosen through the manager.
    void SetName(std::string name) { name_ = std::move(name); }
    const std::string& Name() const { return name_; }

private:
    WORD width_ = 0, height_ = 0;
    int type_ = 0;
    std::uint32_t flags_ = 0;
    std::string name_;
};

class Bitmap {
public:
    virtual ~Bitmap() = default;
    // 0 each when the bitmap has no storage.
    virtual int Width() = 0;
    virtual int Height() = 0;
    // Copies `count` pixels into row y from column x; returns nonzero on success.
    virtual int PutPixels(int x, int y, int count, const BMM_Color_64* pixels) = 0;
    virtual int OpenOutput(BitmapInfo* info) = 0;
    virtual int Write(BitmapInfo* info, std::uint32_t frame = BMM_SINGLEFRAME) = 0;
    virtual int Close(BitmapInfo* info, int flag = 0) = 0;
    // Releases the bitmap; it must not be used afterwards.
    virtual void DeleteThis() = 0;
};

class BitmapManager {
public:
    virtual ~BitmapManager() = default;
    // A new bitmap as the info describes, or null.
    virtual Bitmap* Create(BitmapInfo* info) = 0;
    // Lets the user choose an output file for the info (its name and possibly
    // its format); nonzero when one was chosen.
    virtual int SelectFileOutput(BitmapInfo* info, void* parentWindow, const char* title = nullptr) = 0;
};

// A bitmap held in memory, row 0 at the top. Its output calls do nothing and
// succeed; hosts derive from it to write files.
class MemoryBitmap : public Bitmap {
public:
    MemoryBitmap(int width, int height);
    int Width() override { return width_; }
    int Height() override { return height_; }
    int PutPixels(int x, int y, int count, const BMM_Color_64* pixels) override;
    int OpenOutput(BitmapInfo*) override { return BMMRES_SUCCESS; }
    int Write(BitmapInfo*, std::uint32_t) override { return BMMRES_SUCCESS; }
    int Close(BitmapInfo*, int) override { return BMMRES_SUCCESS; }
    void DeleteThis() override { delete this; }

    const BMM_Color_64& Pixel(int x, int y) const;
    const std::vector<BMM_Color_64>& Pixels() const { return pixels_; }

private:
    int width_, height_;
    std::vector<BMM_Color_64> pixels_;
};

DUNSMERE_HOST_API BitmapManager* TheManager();
DUNSMERE_HOST_API void SetBitmapManager(BitmapManager* manager);

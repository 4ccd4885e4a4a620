// The standalone host's image files: a 16-bit RGBA image, row 0 at the top,
// written as PNG or TIFF (8 or 16 bits a sample) or OpenEXR (half floats,
// each level divided by 65535), the format chosen by the file's extension:
// .png, .tif, .tiff or .exr, in any letter case. A file holds grey (the red
// channel), grey and alpha, or RGBA.
//
// A write goes to a fresh temporary beside the target, is synced, and is then
// renamed over the target: the target is at every moment either the old file
// or the complete new one, and a failed write removes its temporary. While a
// write is in progress its temporary is listed in host/temporary_files.h.
//
// The readers take back what the writers produce; they serve tests, which
// assert on their failures, so a read reports by value.
//
// A write that fails throws ImageFileError, whose message names the file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/bitmap.h"

namespace dunsmere {

enum class ImageFormat { kUnknown, kPng, kTiff, kExr };

// The format PATH's extension names; kUnknown for any other or none.
ImageFormat ImageFormatOf(std::string_view path);
inline bool IsSupportedImagePath(std::string_view path) { return ImageFormatOf(path) != ImageFormat::kUnknown; }
// The extensions, for messages: ".png, .tif, .tiff or .exr".
const char* SupportedImageExtensions();

// What every image reader and writer throws: the file and why. what()
// reads "cannot write FILE: WHY" or "cannot read FILE: WHY".
class ImageFileError : public std::runtime_error {
public:
    ImageFileError(const char* verb, const std::string& file, std::string_view why);
    const std::string& file() const { return file_; }

private:
    std::string file_;
};

// What a file holds of each pixel. Grey is the red channel; an OpenEXR file
// names it Y, the format's luminance.
enum class ImageChannels { kGrey, kGreyAlpha, kRgba };

// The names the command line uses: grey, grey-alpha, rgba; nullopt for any other.
std::optional<ImageChannels> ImageChannelsNamed(std::string_view name);

struct ImageLayout {
    ImageChannels channels = ImageChannels::kRgba;
    int bitDepth = 16;  // 8 or 16; OpenEXR takes only 16 (its halves)
};

// A 16-bit level as 8 bits: the nearest of the 256, so that an 8-bit file is
// the 16-bit one quantised (and reads back as that times 257).
constexpr std::uint8_t Level8(WORD level)
{
    return static_cast<std::uint8_t>((std::uint32_t{level} * 255u + 32767u) / 65535u);
}

// Writes WIDTH x HEIGHT pixels, row-major from the top, to PATH, in LAYOUT.
// PIXELS must hold exactly WIDTH * HEIGHT of them. An existing file at PATH
// keeps its permissions; a new one gets those the umask allows. A write may
// use up to THREADS threads; the file is the same for any number.
void WriteImageFile(const std::string& path, int width, int height, std::span<const BMM_Color_64> pixels,
                    int threads = 1, ImageLayout layout = {});

// What a read came to: ok, or the ImageFileError message that names the file.
struct ImageFileResult {
    bool ok = false;
    std::string error;
    explicit operator bool() const { return ok; }
};

struct RgbaImage16 {
    int width = 0, height = 0;
    std::vector<BMM_Color_64> pixels;  // row-major, row 0 at the top
};

struct RgbaFloat {
    float r = 0, g = 0, b = 0, a = 0;
};

struct RgbaImageFloat {
    int width = 0, height = 0;
    std::vector<RgbaFloat> pixels;  // row-major, row 0 at the top
};

// Reads a PNG or TIFF of 8 or 16 bits per sample, grey or RGB, with or
// without alpha, as 16-bit RGBA (8-bit samples scaled by 257; no alpha reads
// as 65535). An OpenEXR file reads as its values times 65535, rounded and
// clamped to 0..65535.
ImageFileResult ReadImageFile16(const std::string& path, RgbaImage16& image);

// Reads an OpenEXR file's R, G, B and A as floats (a missing channel reads as
// 0, a missing A as 1). A PNG or TIFF reads as its levels divided by 65535.
ImageFileResult ReadImageFileFloat(const std::string& path, RgbaImageFloat& image);

}  // namespace dunsmere

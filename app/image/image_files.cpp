// Choosing the format, and replacing the target through a temporary.
#include "app/image/image_files.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string>
#include <system_error>

#include "app/codec_modules.h"
#include "app/file_extension.h"
#include "app/image/image_codecs.h"
#include "host/temporary_files.h"

namespace dunsmere {

// Defined in a program linked with the codec module's objects.
extern "C" __attribute__((weak)) const ImageCodecTable* DunsmereImageCodecs();

const ImageCodecTable* ImageCodecs(std::string& reason)
{
    return CodecTable(DunsmereImageCodecs, DUNSMERE_IMAGE_CODECS, kImageCodecEntry, reason);
}

namespace {

std::string Errno(int error) { return std::generic_category().message(error); }

// A library's reason that starts with the path itself loses that start
// rather than say it twice.
std::string WithoutPath(const std::string& path, std::string_view reason)
{
    const std::string prefix = path + ": ";
    if (reason.starts_with(prefix)) reason.remove_prefix(prefix.size());
    return std::string(reason);
}

WORD Level(float value)
{
    if (!(value > 0.0f)) return 0;  // NaN too
    if (value >= 1.0f) return 65535;
    return static_cast<WORD>(std::lround(value * 65535.0f));
}

}  // namespace

ImageFileError::ImageFileError(const char* verb, const std::string& file, std::string_view why)
    : std::runtime_error(std::string("cannot ") + verb + " " + file + ": " + WithoutPath(file, why)), file_(file)
{
}

ImageFormat ImageFormatOf(std::string_view path)
{
    const std::string extension = LowerExtension(path);
    if (extension == "png") return ImageFormat::kPng;
    if (extension == "tif" || extension == "tiff") return ImageFormat::kTiff;
    if (extension == "exr") return ImageFormat::kExr;
    return ImageFormat::kUnknown;
}

const char* SupportedImageExtensions() { return ".png, .tif, .tiff or .exr"; }

std::optional<ImageChannels> ImageChannelsNamed(std::string_view name)
{
    if (name == "grey") return ImageChannels::kGrey;
    if (name == "grey-alpha") return ImageChannels::kGreyAlpha;
    if (name == "rgba") return ImageChannels::kRgba;
    return std::nullopt;
}

void WriteImageFile(const std::string& path, int width, int height, std::span<const BMM_Color_64> pixels, int threads,
                    ImageLayout layout)
{
    const ImageFormat format = ImageFormatOf(path);
    if (format == ImageFormat::kUnknown)
        throw ImageFileError("write", path, std::string("unknown image type (use ") + SupportedImageExtensions() + ")");
    if (width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
        throw ImageFileError("write", path, "the image is empty or its pixels do not match its size");
    if (layout.bitDepth != 8 && layout.bitDepth != 16)
        throw ImageFileError("write", path, "a file holds 8 or 16 bits a sample");
    if (format == ImageFormat::kExr && layout.bitDepth != 16)
        throw ImageFileError("write", path, "an OpenEXR file holds half floats, not 8-bit levels");

    TemporaryFile temp(path);
    if (temp.fd() < 0) throw ImageFileError("write", path, Errno(temp.error()));

    std::string reason;
    bool written = false;
    switch (format) {
    case ImageFormat::kPng: written = WritePng(temp, width, height, pixels.data(), layout, threads, reason); break;
    case ImageFormat::kTiff:
        if (const ImageCodecTable* codecs = ImageCodecs(reason))
            written = codecs->writeTiff(temp, path.c_str(), width, height, pixels.data(), layout, threads, reason);
        break;
    case ImageFormat::kExr:
        if (const ImageCodecTable* codecs = ImageCodecs(reason))
            written = codecs->writeExr(temp, path.c_str(), width, height, pixels.data(), layout, threads, reason);
        break;
    case ImageFormat::kUnknown: break;
    }
    if (!written) throw ImageFileError("write", path, reason);
    if (!temp.Commit()) throw ImageFileError("write", path, Errno(errno));
}


namespace {

void Read16(const std::string& path, RgbaImage16& image)
{
    std::string reason;
    switch (ImageFormatOf(path)) {
    case ImageFormat::kPng:
        if (ReadPng(path, image, reason)) return;
        break;
    case ImageFormat::kTiff: {
        const ImageCodecTable* codecs = ImageCodecs(reason);
        if (codecs && codecs->readTiff(path, image, reason)) return;
        break;
    }
    case ImageFormat::kExr: {
        RgbaImageFloat floats;
        const ImageCodecTable* codecs = ImageCodecs(reason);
        if (!codecs || !codecs->readExr(path, floats, reason)) break;
        image.width = floats.width;
        image.height = floats.height;
        image.pixels.resize(floats.pixels.size());
        std::transform(floats.pixels.begin(), floats.pixels.end(), image.pixels.begin(), [](const RgbaFloat& p) {
            return BMM_Color_64{Level(p.r), Level(p.g), Level(p.b), Level(p.a)};
        });
        return;
    }
    case ImageFormat::kUnknown:
        reason = std::string("unknown image type (use ") + SupportedImageExtensions() + ")";
        break;
    }
    throw ImageFileError("read", path, reason);
}

void ReadFloat(const std::string& path, RgbaImageFloat& image)
{
    if (ImageFormatOf(path) == ImageFormat::kExr) {
        std::string reason;
        const ImageCodecTable* codecs = ImageCodecs(reason);
        if (codecs && codecs->readExr(path, image, reason)) return;
        throw ImageFileError("read", path, reason);
    }
    RgbaImage16 levels;
    Read16(path, levels);
    image.width = levels.width;
    image.height = levels.height;
    image.pixels.resize(levels.pixels.size());
    std::transform(levels.pixels.begin(), levels.pixels.end(), image.pixels.begin(), [](const BMM_Color_64& p) {
        return RgbaFloat{static_cast<float>(p.r) / 65535.0f, static_cast<float>(p.g) / 65535.0f,
                         static_cast<float>(p.b) / 65535.0f, static_cast<float>(p.a) / 65535.0f};
    });
}

template <class Read>
ImageFileResult Reported(Read&& read)
{
    try {
        read();
        return {true, {}};
    } catch (const ImageFileError& e) {
        return {false, e.what()};
    }
}

}  // namespace

ImageFileResult ReadImageFile16(const std::string& path, RgbaImage16& image)
{
    return Reported([&] { Read16(path, image); });
}

ImageFileResult ReadImageFileFloat(const std::string& path, RgbaImageFloat& image)
{
    return Reported([&] { ReadFloat(path, image); });
}

}  // namespace dunsmere

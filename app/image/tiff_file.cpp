// TIFF files through libtiff: 16-bit RGBA out with unassociated alpha,
// deflate-compressed with horizontal differencing, in the machine's byte
// order (the header says which; every reader swaps as needed).
//
// Errors go to handlers given to each open, never to libtiff's process-wide
// handlers, so writes on several threads keep their messages apart.
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "app/image/image_codecs.h"

namespace {

struct TiffMessages {
    char error[256] = {};  // the first error
    int errorErrno = 0;    // errno as that error was reported
};

int OnError(TIFF*, void* userData, const char*, const char* format, va_list args)
{
    auto* messages = static_cast<TiffMessages*>(userData);
    const int error = errno;
    if (messages->error[0] == '\0') {
        messages->errorErrno = error;
        std::vsnprintf(messages->error, sizeof messages->error, format, args);
    }
    return 1;  // handled: libtiff prints nothing
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
using Options = std::unique_ptr<TIFFOpenOptions, OptionsFree>;

Options MakeOptions(TiffMessages& messages)
{
    Options options(TIFFOpenOptionsAlloc());
    if (options) {
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &messages);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, nullptr);
    }
    return options;
}

// libtiff's own words for a failed write ("Write error at scanline 8") leave
// out the system's, so a writer clears errno before each call and the
// system's reason is added when one was left.
std::string Reason(const TiffMessages& messages, const char* fallback)
{
    std::string reason = messages.error[0] != '\0' ? messages.error : fallback;
    if (messages.errorErrno != 0) reason += ": " + std::generic_category().message(messages.errorErrno);
    return reason;
}

// One file's fields, set and checked.
bool SetFields(TIFF* tif, int width, int height)
{
    const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    const uint16_t compression = TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE) ? COMPRESSION_ADOBE_DEFLATE
                                                                                  : COMPRESSION_NONE;
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width)) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height)) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t{16}) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t{4}) &&
              TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, uint16_t{SAMPLEFORMAT_UINT}) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_RGB}) &&
              TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t{1}, extra) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t{PLANARCONFIG_CONTIG}) &&
              TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t{ORIENTATION_TOPLEFT}) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (ok && compression == COMPRESSION_ADOBE_DEFLATE)
        ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, uint16_t{PREDICTOR_HORIZONTAL});
    return ok && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
}

WORD Sample(const unsigned char* row, size_t index, uint16_t bits)
{
    if (bits == 8) return static_cast<WORD>(row[index] * 257);
    WORD v;
    std::memcpy(&v, row + 2 * index, sizeof v);  // libtiff has put it in the machine's order
    return v;
}

}  // namespace

bool WriteTiff(TemporaryFile& out, const char* name, int width, int height, const BMM_Color_64* pixels, std::string& reason)
{
    // libtiff closes the descriptor it is given; the caller keeps its own
    // for the sync that follows.
    const int own = ::dup(out.fd());
    if (own < 0) {
        reason = std::generic_category().message(errno);
        return false;
    }
    TiffMessages messages;
    const Options options = MakeOptions(messages);
    errno = 0;
    TIFF* tif = options ? TIFFFdOpenExt(own, name, "w", options.get()) : nullptr;
    if (!tif) {
        ::close(own);
        reason = Reason(messages, "libtiff could not start");
        return false;
    }
    bool ok = SetFields(tif, width, height);
    // libtiff may encode a row in place, so each row goes through a copy.
    std::vector<BMM_Color_64> row(static_cast<size_t>(width));
    for (int y = 0; ok && y < height; ++y) {
        const BMM_Color_64* source = pixels + static_cast<size_t>(y) * static_cast<size_t>(width);
        row.assign(source, source + width);
        errno = 0;
        ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    // Flush reports what the close would only drop.
    errno = 0;
    ok = ok && TIFFFlush(tif) == 1;
    TIFFClose(tif);
    if (!ok) reason = Reason(messages, "libtiff failed");
    return ok;
}

bool ReadTiff(const std::string& path, RgbaImage16& image, std::string& reason)
{
    TiffMessages messages;
    const Options options = MakeOptions(messages);
    errno = 0;
    TIFF* tif = options ? TIFFOpenExt(path.c_str(), "r", options.get()) : nullptr;
    if (!tif) {
        reason = Reason(messages, "libtiff could not open it");
        return false;
    }
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, photometric = 0, planar = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK && (samples == 1 || samples == 2);
    const bool rgb = photometric == PHOTOMETRIC_RGB && (samples == 3 || samples == 4);
    if ((bits != 8 && bits != 16) || !(grey || rgb) || planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tif)) {
        TIFFClose(tif);
        reason = "unsupported TIFF layout";
        return false;
    }
    const bool alpha = samples == 2 || samples == 4;
    std::vector<unsigned char> row(static_cast<size_t>(TIFFScanlineSize64(tif)));
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.pixels.assign(static_cast<size_t>(width) * height, BMM_Color_64{});
    bool ok = true;
    for (uint32_t y = 0; ok && y < height; ++y) {
        errno = 0;
        ok = TIFFReadScanline(tif, row.data(), y, 0) == 1;
        for (uint32_t x = 0; ok && x < width; ++x) {
            const size_t first = static_cast<size_t>(x) * samples;
            BMM_Color_64& out = image.pixels[static_cast<size_t>(y) * width + x];
            out.r = Sample(row.data(), first, bits);
            out.g = grey ? out.r : Sample(row.data(), first + 1, bits);
            out.b = grey ? out.r : Sample(row.data(), first + 2, bits);
            out.a = alpha ? Sample(row.data(), first + samples - 1, bits) : WORD{65535};
        }
    }
    TIFFClose(tif);
    if (!ok) reason = Reason(messages, "libtiff could not read it");
    return ok;
}

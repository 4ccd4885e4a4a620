// TIFF files through libtiff: grey, grey and alpha, or RGBA of 8 or 16 bits,
// alpha unassociated, deflate-compressed with horizontal differencing, in the
// machine's byte order (the header says which; every reader swaps as needed).
//
// libtiff codes a strip on the thread that hands it over, so the strips are
// differenced and deflated here, on the write's threads, through libdeflate
// at level 6 as libtiff's own codec deflates them, and handed to libtiff
// already coded (TIFFWriteRawStrip), in order: a strip's bytes are the same
// whichever thread coded it.
//
// Errors go to handlers given to each open, never to libtiff's process-wide
// handlers, so writes on several threads keep their messages apart.
#include <tiffio.h>
#include <unistd.h>

#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "app/image/image_codecs.h"
#include "app/image/sample_rows.h"

namespace dunsmere {

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

constexpr std::size_t kStripBytes = 64 * 1024;  // about; a strip holds a row at least
constexpr std::size_t kStripsAtOnce = 64;        // coded before they are handed to libtiff

// One file's fields, set and checked. DEFLATE says whether the strips are
// deflated, or stored as they are where libtiff lacks the codec to read them.
bool SetFields(TIFF* tif, int width, int height, ImageLayout layout, bool deflate, uint32_t rowsPerStrip)
{
    const bool alpha = layout.channels != ImageChannels::kGrey;
    const bool rgb = layout.channels == ImageChannels::kRgba;
    const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width)) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height)) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(layout.bitDepth)) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(SamplesPerPixel(layout.channels))) &&
              TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, uint16_t{SAMPLEFORMAT_UINT}) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                           static_cast<uint16_t>(rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK)) &&
              (!alpha || TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t{1}, extra)) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t{PLANARCONFIG_CONTIG}) &&
              TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t{ORIENTATION_TOPLEFT}) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, deflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
    if (ok && deflate) ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, uint16_t{PREDICTOR_HORIZONTAL});
    return ok && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
}

struct Strips {
    const BMM_Color_64* pixels;
    ImageLayout layout;
    std::size_t width, height, rowBytes, rowsPerStrip;
    bool deflate;
};

// Each sample less the one a pixel to its left, in place: the horizontal
// predictor, on the samples' values in the machine's order.
template <class Sample>
void Difference(std::uint8_t* row, std::size_t samples, std::size_t perPixel)
{
    for (std::size_t i = samples; i-- > perPixel;) {
        Sample s, left;
        std::memcpy(&s, row + i * sizeof s, sizeof s);
        std::memcpy(&left, row + (i - perPixel) * sizeof s, sizeof s);
        s = static_cast<Sample>(s - left);
        std::memcpy(row + i * sizeof s, &s, sizeof s);
    }
}

struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorFree>;

// Strip K coded into OUT with C, using RAW as scratch; false when it did not fit.
bool CodeStrip(const Strips& st, std::size_t k, libdeflate_compressor* c, std::vector<std::uint8_t>& raw,
               std::vector<std::uint8_t>& out)
{
    const std::size_t y0 = k * st.rowsPerStrip, y1 = std::min(st.height, y0 + st.rowsPerStrip);
    raw.resize((y1 - y0) * st.rowBytes);
    const std::size_t perPixel = SamplesPerPixel(st.layout.channels), samples = st.width * perPixel;
    for (std::size_t y = y0; y < y1; ++y) {
        std::uint8_t* row = raw.data() + (y - y0) * st.rowBytes;
        PackRow(st.pixels + y * st.width, st.width, st.layout, SampleOrder::kNative, row);
        if (!st.deflate) continue;
        if (st.layout.bitDepth == 8) Difference<std::uint8_t>(row, samples, perPixel);
        else Difference<std::uint16_t>(row, samples, perPixel);
    }
    if (!st.deflate) {
        out.swap(raw);
        return true;
    }
    out.resize(libdeflate_zlib_compress_bound(c, raw.size()));
    out.resize(libdeflate_zlib_compress(c, raw.data(), raw.size(), out.data(), out.size()));
    return !out.empty();
}

// Strips FIRST.. of a batch coded into CODED on up to THREADS threads; false
// when one could not be.
bool CodeStrips(const Strips& st, std::size_t first, std::vector<std::vector<std::uint8_t>>& coded, int threads)
{
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        try {
            const Compressor compressor(libdeflate_alloc_compressor(6));
            if (!compressor) throw std::bad_alloc();
            std::vector<std::uint8_t> raw;
            for (std::size_t i = next++; i < coded.size() && !failed; i = next++)
                if (!CodeStrip(st, first + i, compressor.get(), raw, coded[i])) failed = true;
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t wanted = std::min<std::size_t>(static_cast<std::size_t>(std::max(threads, 1)), coded.size()) - 1;
    try {
        for (std::size_t t = 0; t < wanted; ++t) helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads code the same strips.
    }
    work();
    for (std::thread& t : helpers) t.join();
    return !failed;
}

WORD Sample(const unsigned char* row, size_t index, uint16_t bits)
{
    if (bits == 8) return static_cast<WORD>(row[index] * 257);
    WORD v;
    std::memcpy(&v, row + 2 * index, sizeof v);  // libtiff has put it in the machine's order
    return v;
}

}  // namespace

bool WriteTiff(TemporaryFile& out, const char* name, int width, int height, const BMM_Color_64* pixels,
               ImageLayout layout, int threads, std::string& reason)
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
    Strips st{pixels, layout, static_cast<std::size_t>(width), static_cast<std::size_t>(height),
              static_cast<std::size_t>(width) * PixelBytes(layout), 0,
              TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE) != 0};
    st.rowsPerStrip = std::clamp<std::size_t>(kStripBytes / st.rowBytes, 1, st.height);
    bool ok = SetFields(tif, width, height, layout, st.deflate, static_cast<uint32_t>(st.rowsPerStrip));
    const std::size_t strips = (st.height + st.rowsPerStrip - 1) / st.rowsPerStrip;
    try {
        std::vector<std::vector<std::uint8_t>> coded;
        for (std::size_t first = 0; ok && first < strips; first += coded.size()) {
            coded.resize(std::min(kStripsAtOnce, strips - first));
            if (!CodeStrips(st, first, coded, threads)) {
                if (messages.error[0] == '\0')
                    std::snprintf(messages.error, sizeof messages.error, "a strip could not be compressed");
                ok = false;
            }
            for (std::size_t i = 0; ok && i < coded.size(); ++i) {
                errno = 0;
                ok = TIFFWriteRawStrip(tif, static_cast<uint32_t>(first + i), coded[i].data(),
                                       static_cast<tmsize_t>(coded[i].size())) >= 0;
            }
        }
    } catch (const std::bad_alloc&) {
        TIFFClose(tif);
        reason = "out of memory";
        return false;
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

}  // namespace dunsmere

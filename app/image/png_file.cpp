// PNG files through libpng's full interface: the layout's samples out, levels
// as they are (no gamma chunk, no premultiplying, unlike the simplified
// interface).
//
// libpng reports an error by a longjmp back to the setjmp of whoever made the
// png struct. The functions that call setjmp (EncodePng, DecodePng) therefore
// own nothing with a destructor: the state they fill, vectors included, lives
// in their callers' frames, and what must allocate does so in a noexcept
// helper that reports failure instead of throwing through libpng.
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>
#include <vector>

#include "app/image/image_codecs.h"
#include "app/image/sample_rows.h"

namespace dunsmere {

namespace {

struct PngState {
    TemporaryFile* out = nullptr;  // writing: the file
    std::vector<png_byte>* packed = nullptr;  // writing: one row's samples
    int writeErrno = 0;         // writing: why the descriptor refused data
    std::FILE* file = nullptr;  // reading
    std::vector<png_byte>* raw = nullptr;   // reading: every row, as libpng delivers them
    std::vector<png_bytep>* rows = nullptr;
    png_uint_32 width = 0, height = 0;
    int depth = 0, channels = 0;
    char message[256] = {};     // libpng's first error
};

void OnError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    if (state->message[0] == '\0') std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnWrite(png_structp png, png_bytep data, size_t length)
{
    auto* state = static_cast<PngState*>(png_get_io_ptr(png));
    if (!state->out->Write(data, length)) {
        state->writeErrno = errno;
        png_error(png, "write failed");
    }
}

// The caller syncs the whole file once it is complete.
void OnFlush(png_structp) {}

int ColourType(ImageChannels channels)
{
    switch (channels) {
    case ImageChannels::kGrey: return PNG_COLOR_TYPE_GRAY;
    case ImageChannels::kGreyAlpha: return PNG_COLOR_TYPE_GRAY_ALPHA;
    case ImageChannels::kRgba: break;
    }
    return PNG_COLOR_TYPE_RGB_ALPHA;
}

bool EncodePng(PngState* state, int width, int height, const BMM_Color_64* pixels, ImageLayout layout)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, state, OnError, OnWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, state, OnWrite, OnFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), layout.bitDepth,
                 ColourType(layout.channels), PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        PackRow(pixels + static_cast<size_t>(y) * static_cast<size_t>(width), static_cast<size_t>(width), layout,
                SampleOrder::kBigEndian, state->packed->data());
        png_write_row(png, state->packed->data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool AllocateRows(PngState* state, size_t rowBytes) noexcept
{
    try {
        state->raw->resize(rowBytes * state->height);
        state->rows->resize(state->height);
        for (png_uint_32 y = 0; y < state->height; ++y) (*state->rows)[y] = state->raw->data() + rowBytes * y;
        return true;
    } catch (...) {
        return false;
    }
}

// Any PNG, expanded to RGB or RGBA of 8 or 16 bits; the first 8 bytes, the
// signature, have been read and checked.
bool DecodePng(PngState* state)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state, OnError, OnWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, state->file);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    png_set_expand(png);  // palette, grey under 8 bits and tRNS become full samples
    png_set_gray_to_rgb(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    state->width = png_get_image_width(png, info);
    state->height = png_get_image_height(png, info);
    state->depth = png_get_bit_depth(png, info);
    state->channels = png_get_channels(png, info);
    if ((state->depth != 8 && state->depth != 16) || (state->channels != 3 && state->channels != 4))
        png_error(png, "unsupported PNG layout");
    if (!AllocateRows(state, png_get_rowbytes(png, info))) png_error(png, "out of memory");
    png_read_image(png, state->rows->data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

WORD Sample(const png_byte* p, int depth)
{
    return depth == 16 ? static_cast<WORD>(p[0] << 8 | p[1]) : static_cast<WORD>(p[0] * 257);
}

}  // namespace

bool WritePngLibpng(TemporaryFile& out, int width, int height, const BMM_Color_64* pixels, ImageLayout layout,
                    std::string& reason)
{
    std::vector<png_byte> packed;
    try {
        packed.resize(static_cast<size_t>(width) * PixelBytes(layout));
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
        return false;
    }
    PngState state;
    state.out = &out;
    state.packed = &packed;
    if (EncodePng(&state, width, height, pixels, layout)) return true;
    if (state.writeErrno != 0) reason = std::generic_category().message(state.writeErrno);
    else reason = state.message[0] != '\0' ? state.message : "libpng could not start";
    return false;
}

bool ReadPng(const std::string& path, RgbaImage16& image, std::string& reason)
{
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) {
        reason = std::generic_category().message(errno);
        return false;
    }
    png_byte signature[8] = {};
    if (std::fread(signature, 1, sizeof signature, file) != sizeof signature || png_sig_cmp(signature, 0, 8) != 0) {
        std::fclose(file);
        reason = "not a PNG file";
        return false;
    }
    std::vector<png_byte> raw;
    std::vector<png_bytep> rows;
    PngState state;
    state.file = file;
    state.raw = &raw;
    state.rows = &rows;
    const bool decoded = DecodePng(&state);
    std::fclose(file);
    if (!decoded) {
        reason = state.message[0] != '\0' ? state.message : "libpng could not start";
        return false;
    }
    image.width = static_cast<int>(state.width);
    image.height = static_cast<int>(state.height);
    image.pixels.assign(static_cast<size_t>(state.width) * state.height, BMM_Color_64{});
    const size_t step = static_cast<size_t>(state.depth / 8);
    for (png_uint_32 y = 0; y < state.height; ++y) {
        const png_byte* p = rows[y];
        for (png_uint_32 x = 0; x < state.width; ++x, p += step * static_cast<size_t>(state.channels)) {
            BMM_Color_64& out = image.pixels[static_cast<size_t>(y) * state.width + x];
            out.r = Sample(p, state.depth);
            out.g = Sample(p + step, state.depth);
            out.b = Sample(p + 2 * step, state.depth);
            out.a = state.channels == 4 ? Sample(p + 3 * step, state.depth) : WORD{65535};
        }
    }
    return true;
}

}  // namespace dunsmere

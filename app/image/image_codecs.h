// The per-format encoders and decoders behind app/image/image_files.h. An encoder
// writes a whole file to an open descriptor positioned at its start; a
// decoder reads a named file. None throws: each returns false and leaves in
// REASON why, without the file's name, which the caller adds.
#pragma once

#include <cstddef>
#include <string>

#include "app/image/image_files.h"
#include "host/temporary_files.h"

namespace dunsmere {

// NAME is the file the messages of a library may mention. PNG and EXR data
// goes through OUT's Write; libtiff writes to OUT's descriptor itself. Each
// writes LAYOUT, which the caller has checked the format takes.
// WritePng compresses bands of rows on up to THREADS threads into one zlib
// stream (app/image/png_rows.cpp); WritePngLibpng, libpng's own single
// stream, is its reference.
bool WritePng(TemporaryFile& out, int width, int height, const BMM_Color_64* pixels, ImageLayout layout,
              int threads, std::string& reason);
bool WritePngLibpng(TemporaryFile& out, int width, int height, const BMM_Color_64* pixels, ImageLayout layout,
                    std::string& reason);
bool WriteTiff(TemporaryFile& out, const char* name, int width, int height, const BMM_Color_64* pixels,
               ImageLayout layout, int threads, std::string& reason);
bool WriteExr(TemporaryFile& out, const char* name, int width, int height, const BMM_Color_64* pixels,
              ImageLayout layout, int threads, std::string& reason);

bool ReadPng(const std::string& path, RgbaImage16& image, std::string& reason);
bool ReadTiff(const std::string& path, RgbaImage16& image, std::string& reason);
bool ReadExr(const std::string& path, RgbaImageFloat& image, std::string& reason);

// TIFF and EXR come from a module of their own (app/codec_modules.h), whose
// entry kImageCodecEntry returns this table. The build names its file.
struct ImageCodecTable {
    decltype(&WriteTiff) writeTiff;
    decltype(&WriteExr) writeExr;
    decltype(&ReadTiff) readTiff;
    decltype(&ReadExr) readExr;
};
inline constexpr const char* kImageCodecEntry = "DunsmereImageCodecs";
// The table, or null with REASON saying why the module could not be had.
const ImageCodecTable* ImageCodecs(std::string& reason);

}  // namespace dunsmere

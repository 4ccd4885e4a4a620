// A row of pixels as a file's samples: the layout's channels at 8 or 16
// bits, 16-bit samples big-endian (PNG) or in the machine's order (TIFF).
// Header-only: the codec module has its own copy.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "app/image/image_files.h"

namespace dunsmere {

inline std::size_t SamplesPerPixel(ImageChannels channels)
{
    return channels == ImageChannels::kGrey ? 1 : channels == ImageChannels::kGreyAlpha ? 2 : 4;
}

inline std::size_t PixelBytes(const ImageLayout& layout)
{
    return SamplesPerPixel(layout.channels) * static_cast<std::size_t>(layout.bitDepth / 8);
}

enum class SampleOrder { kBigEndian, kNative };

namespace sample_rows_detail {

template <std::size_t N>
inline void Pack(const BMM_Color_64* p, std::size_t width, int bitDepth, bool highFirst, std::uint8_t* out)
{
    for (std::size_t x = 0; x < width; ++x) {
        const WORD all[4] = {p[x].r, p[x].g, p[x].b, p[x].a};
        WORD s[N];
        if constexpr (N == 2) {
            s[0] = all[0];
            s[1] = all[3];
        } else {
            for (std::size_t k = 0; k < N; ++k) s[k] = all[k];
        }
        for (std::size_t k = 0; k < N; ++k) {
            if (bitDepth == 8) {
                *out++ = Level8(s[k]);
            } else if (highFirst) {
                *out++ = static_cast<std::uint8_t>(s[k] >> 8);
                *out++ = static_cast<std::uint8_t>(s[k] & 0xff);
            } else {
                *out++ = static_cast<std::uint8_t>(s[k] & 0xff);
                *out++ = static_cast<std::uint8_t>(s[k] >> 8);
            }
        }
    }
}

}  // namespace sample_rows_detail

// WIDTH pixels from P into OUT, which holds WIDTH * PixelBytes(LAYOUT) bytes.
inline void PackRow(const BMM_Color_64* p, std::size_t width, const ImageLayout& layout, SampleOrder order,
                    std::uint8_t* out)
{
    const bool highFirst = order == SampleOrder::kBigEndian || std::endian::native == std::endian::big;
    switch (layout.channels) {
    case ImageChannels::kGrey: sample_rows_detail::Pack<1>(p, width, layout.bitDepth, highFirst, out); break;
    case ImageChannels::kGreyAlpha: sample_rows_detail::Pack<2>(p, width, layout.bitDepth, highFirst, out); break;
    case ImageChannels::kRgba: sample_rows_detail::Pack<4>(p, width, layout.bitDepth, highFirst, out); break;
    }
}

}  // namespace dunsmere

#include "host/bitmap.h"

#include <algorithm>

MemoryBitmap::MemoryBitmap(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_))
{
}

int MemoryBitmap::PutPixels(int x, int y, int count, const BMM_Color_64* pixels)
{
    if (!pixels || y < 0 || y >= height_ || x < 0 || x >= width_ || count < 0) return 0;
    const int n = std::min(count, width_ - x);
    std::copy(pixels, pixels + n, pixels_.begin() + static_cast<std::ptrdiff_t>(y) * width_ + x);
    return 1;
}

const BMM_Color_64& MemoryBitmap::Pixel(int x, int y) const
{
    return pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
}

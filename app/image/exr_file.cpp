// OpenEXR files: half-float Y (grey), Y and A, or RGBA, each value a level
// divided by 65535, ZIP compressed (lossless on the halves). The library's own
// thread pool compresses the blocks of lines.
//
// The file goes through a stream over the caller's descriptor rather than
// OpenEXR's own file stream: the output file writes its line offset table
// from its destructor and swallows any error there, so the stream keeps a
// note of every failed write for the caller to check afterwards.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfOutputFile.h>
#include <ImfRgbaFile.h>
#include <ImfThreading.h>
#include <Iex.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <new>
#include <span>
#include <system_error>
#include <vector>

#include "app/image/image_codecs.h"

namespace dunsmere {

namespace {

class DescriptorStream : public Imf::OStream {
public:
    DescriptorStream(TemporaryFile& out, const char* name) : Imf::OStream(name), out_(out), fd_(out.fd()) {}

    void write(const char c[], int n) override
    {
        if (n > 0 && !out_.Write(c, static_cast<size_t>(n))) Fail();
    }

    uint64_t tellp() override
    {
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        if (at < 0) Fail();
        return static_cast<uint64_t>(at);
    }

    void seekp(uint64_t pos) override
    {
        if (::lseek(fd_, static_cast<off_t>(pos), SEEK_SET) < 0) Fail();
    }

    // Why the first failed call failed; 0 when none did.
    int FailedErrno() const { return errno_; }

private:
    [[noreturn]] void Fail()
    {
        if (errno_ == 0) errno_ = errno != 0 ? errno : EIO;
        throw Iex::IoExc(std::generic_category().message(errno_));
    }

    TemporaryFile& out_;
    int fd_;
    int errno_ = 0;
};

}  // namespace

bool WriteExr(TemporaryFile& out, const char* name, int width, int height, const BMM_Color_64* pixels,
              ImageLayout layout, int threads, std::string& reason)
{
    try {
        static constexpr std::array<const char*, 1> kGrey{"Y"};
        static constexpr std::array<const char*, 2> kGreyAlpha{"Y", "A"};
        static constexpr std::array<const char*, 4> kRgba{"R", "G", "B", "A"};
        const std::span<const char* const> names = layout.channels == ImageChannels::kGrey
                                                       ? std::span<const char* const>(kGrey)
                                                   : layout.channels == ImageChannels::kGreyAlpha
                                                       ? std::span<const char* const>(kGreyAlpha)
                                                       : std::span<const char* const>(kRgba);
        const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height), n = names.size();
        std::vector<half> halves(count * n);
        const auto value = [](WORD level) { return half(static_cast<float>(level) / 65535.0f); };
        for (size_t i = 0; i < count; ++i) {
            const BMM_Color_64& p = pixels[i];
            const WORD levels[4] = {p.r, n == 2 ? p.a : p.g, p.b, p.a};
            for (size_t k = 0; k < n; ++k) halves[i * n + k] = value(levels[k]);
        }
        Imf::Header header(width, height);  // ZIP compression, increasing y: row 0 first
        Imf::FrameBuffer frame;
        for (size_t k = 0; k < n; ++k) {
            header.channels().insert(names[k], Imf::Channel(Imf::HALF));
            frame.insert(names[k], Imf::Slice(Imf::HALF, reinterpret_cast<char*>(halves.data() + k), n * sizeof(half),
                                              n * sizeof(half) * static_cast<size_t>(width)));
        }
        // The pool only grows, so that a write under way elsewhere keeps its threads.
        if (threads > 1 && Imf::globalThreadCount() < threads) Imf::setGlobalThreadCount(threads);
        DescriptorStream stream(out, name);
        {
            Imf::OutputFile file(stream, header, threads > 1 ? threads : 0);
            file.setFrameBuffer(frame);
            file.writePixels(height);
        }
        if (stream.FailedErrno() != 0) {
            reason = std::generic_category().message(stream.FailedErrno());
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    } catch (const std::exception& e) {
        reason = e.what();
    } catch (...) {
        reason = "OpenEXR failed";
    }
    return false;
}

bool ReadExr(const std::string& path, RgbaImageFloat& image, std::string& reason)
{
    try {
        Imf::RgbaInputFile file(path.c_str());
        const Imath::Box2i window = file.dataWindow();
        const int width = window.max.x - window.min.x + 1;
        const int height = window.max.y - window.min.y + 1;
        std::vector<Imf::Rgba> halves(static_cast<size_t>(width) * static_cast<size_t>(height));
        // OpenEXR addresses the buffer by absolute coordinates, so its base
        // is placed where pixel (0, 0) would be.
        const std::ptrdiff_t origin = static_cast<std::ptrdiff_t>(window.min.y) * width + window.min.x;
        file.setFrameBuffer(halves.data() - origin, 1, static_cast<size_t>(width));
        file.readPixels(window.min.y, window.max.y);
        image.width = width;
        image.height = height;
        image.pixels.resize(halves.size());
        for (size_t i = 0; i < halves.size(); ++i)
            image.pixels[i] = {static_cast<float>(halves[i].r), static_cast<float>(halves[i].g),
                               static_cast<float>(halves[i].b), static_cast<float>(halves[i].a)};
        return true;
    } catch (const std::exception& e) {
        reason = e.what();
    } catch (...) {
        reason = "OpenEXR failed";
    }
    return false;
}

}  // namespace dunsmere

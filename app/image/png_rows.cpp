// PNG written from bands of rows compressed on several threads and joined
// into one zlib stream, as parallel gzip tools join theirs.
//
// Deflating is most of a write's time, and a single stream keeps it on one
// thread. Here the filtered rows are cut into bands of about kBandBytes, a
// count of rows that depends on the image alone, and each band is deflated
// raw on whichever thread takes it. Every band but the last ends on a sync
// flush, which closes its deflate blocks on a byte boundary, so the bands'
// bytes simply follow one another; the last ends the deflate data. The zlib
// header goes before the first band, and the Adler-32 of all the filtered
// rows, joined from the bands' own (adler32_combine), after the last. Each
// band goes out as one IDAT chunk, in order, as soon as the bands before it
// have. A row's filter depends only on it and the row above, both at hand in
// the pixels, so a band's first row is filtered exactly as in one stream.
// Nothing depends on the number of threads: neither does the file.
//
// Filters are chosen as libpng chooses them: for each row the first of none,
// sub, up, average and Paeth whose bytes, read as signed, have the least sum
// of absolute values; an image one pixel wide leaves out sub, average and
// Paeth, one a row high up, average and Paeth. zlib runs at libpng's
// settings: the default level, a 32 KiB window, memory level 8 and the
// filtered strategy.
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "app/image/image_codecs.h"
#include "app/image/sample_rows.h"

namespace dunsmere {

namespace {

constexpr std::size_t kBandBytes = 256 * 1024;
constexpr std::size_t kFileBuffer = 256 * 1024;
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 30;
constexpr int kLevel = Z_DEFAULT_COMPRESSION;
// A 32 KiB window at the default level, as zlib's own header for it reads.
constexpr std::uint8_t kZlibHeader[2] = {0x78, 0x9c};

enum Filter : unsigned { kNone = 1, kSub = 2, kUp = 4, kAverage = 8, kPaeth = 16 };

unsigned FiltersFor(std::size_t width, std::size_t height)
{
    unsigned filters = kNone | kSub | kUp | kAverage | kPaeth;
    if (height == 1) filters &= ~(kUp | kAverage | kPaeth);
    if (width == 1) filters &= ~(kSub | kAverage | kPaeth);
    return filters;
}

// A byte's distance from 0, read as signed.
inline std::uint32_t Cost(std::uint8_t v) { return std::min<std::uint32_t>(v, static_cast<std::uint8_t>(-v)); }

struct Image {
    const BMM_Color_64* pixels;
    ImageLayout layout;
    std::size_t width, height, pixelBytes, rowBytes, lineBytes, rowsPerBand, bands;
    unsigned filters;

    std::size_t FirstRow(std::size_t band) const { return band * rowsPerBand; }
    std::size_t EndRow(std::size_t band) const { return std::min(height, FirstRow(band) + rowsPerBand); }
    void Pack(std::size_t y, std::uint8_t* out) const
    {
        PackRow(pixels + y * width, width, layout, SampleOrder::kBigEndian, out);
    }
};

// What one thread needs for a band: its rows as samples, the filters' trial
// lines, the band filtered, the band deflated, and a deflate stream.
class BandCoder {
public:
    explicit BandCoder(const Image& im)
        : im_(im), prev_(im.rowBytes), row_(im.rowBytes), trials_(4 * im.rowBytes),
          filtered_(im.rowsPerBand * im.lineBytes)
    {
        started_ = deflateInit2(&z_, kLevel, Z_DEFLATED, -15, 8, Z_FILTERED) == Z_OK;
    }
    ~BandCoder()
    {
        if (started_) deflateEnd(&z_);
    }
    BandCoder(const BandCoder&) = delete;
    BandCoder& operator=(const BandCoder&) = delete;

    // Band B filtered and deflated into OUT, the zlib header before the
    // first; its filtered bytes' count and Adler-32 in BYTES and ADLER.
    // False with zlib's complaint in MESSAGE.
    bool Code(std::size_t b, std::vector<std::uint8_t>& out, std::size_t& bytes, uLong& adler, const char*& message)
    {
        if (!started_) {
            message = "zlib could not start";
            return false;
        }
        bytes = Filter(b);
        adler = adler32_z(adler32(0L, nullptr, 0), filtered_.data(), bytes);
        const bool last = b + 1 == im_.bands;
        out.clear();
        if (b == 0) out.assign(std::begin(kZlibHeader), std::end(kZlibHeader));
        std::size_t at = out.size();
        out.resize(at + deflateBound(&z_, static_cast<uLong>(bytes)) + 64);
        if (deflateReset(&z_) != Z_OK) {
            message = "zlib failed";
            return false;
        }
        z_.next_in = filtered_.data();
        z_.avail_in = static_cast<uInt>(bytes);
        for (;;) {
            z_.next_out = out.data() + at;
            z_.avail_out = static_cast<uInt>(out.size() - at);
            const int ret = deflate(&z_, last ? Z_FINISH : Z_SYNC_FLUSH);
            at = out.size() - z_.avail_out;
            if (ret == Z_STREAM_END) break;
            if (ret != Z_OK && ret != Z_BUF_ERROR) {
                message = z_.msg ? z_.msg : "zlib failed";
                return false;
            }
            // Room left over means a flush is complete; a finish is not
            // until the stream's end.
            if (z_.avail_out > 0) {
                if (!last) break;
                message = "zlib failed";
                return false;
            }
            out.resize(out.size() + out.size() / 2 + 64);
        }
        out.resize(at);
        return true;
    }

private:
    // Band B's rows filtered into filtered_; returns their bytes.
    std::size_t Filter(std::size_t b)
    {
        const std::size_t y0 = im_.FirstRow(b), y1 = im_.EndRow(b);
        if (y0 > 0) im_.Pack(y0 - 1, prev_.data());
        else std::fill(prev_.begin(), prev_.end(), std::uint8_t{0});
        std::uint8_t* out = filtered_.data();
        for (std::size_t y = y0; y < y1; ++y, out += im_.lineBytes) {
            im_.Pack(y, row_.data());
            FilterLine(out);
            std::swap(row_, prev_);
        }
        return (y1 - y0) * im_.lineBytes;
    }

    // row_ filtered against prev_ into OUT, the filter's type byte first.
    void FilterLine(std::uint8_t* out)
    {
        const std::size_t n = im_.rowBytes, bpp = std::min(im_.pixelBytes, n);
        const std::uint8_t* __restrict x = row_.data();
        const std::uint8_t* __restrict up = prev_.data();
        std::uint8_t* __restrict sub = trials_.data();
        std::uint8_t* __restrict vert = sub + n;
        std::uint8_t* __restrict avg = vert + n;
        std::uint8_t* __restrict paeth = avg + n;
        std::uint32_t sums[5] = {};
        // Left of the first pixel, a and c are 0: Paeth then predicts b.
        for (std::size_t i = 0; i < bpp; ++i) {
            sub[i] = x[i];
            vert[i] = static_cast<std::uint8_t>(x[i] - up[i]);
            avg[i] = static_cast<std::uint8_t>(x[i] - (up[i] >> 1));
            paeth[i] = vert[i];
        }
        // Loops of their own, each free of the others' stores, so that
        // each runs on vectors.
        for (std::size_t i = bpp; i < n; ++i) sub[i] = static_cast<std::uint8_t>(x[i] - x[i - bpp]);
        for (std::size_t i = bpp; i < n; ++i) vert[i] = static_cast<std::uint8_t>(x[i] - up[i]);
        for (std::size_t i = bpp; i < n; ++i)
            avg[i] = static_cast<std::uint8_t>(x[i] - ((x[i - bpp] + up[i]) >> 1));
        for (std::size_t i = bpp; i < n; ++i) {
            const std::int16_t a = x[i - bpp], b = up[i], c = up[i - bpp];
            const std::int16_t p = static_cast<std::int16_t>(b - c), q = static_cast<std::int16_t>(a - c);
            const std::int16_t pa = static_cast<std::int16_t>(p < 0 ? -p : p);
            const std::int16_t pb = static_cast<std::int16_t>(q < 0 ? -q : q);
            const std::int16_t pq = static_cast<std::int16_t>(p + q);
            const std::int16_t pc = static_cast<std::int16_t>(pq < 0 ? -pq : pq);
            const std::int16_t predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            paeth[i] = static_cast<std::uint8_t>(x[i] - predicted);
        }
        // Sums of at most 128 a byte over one row fit 32 bits for rows up
        // to 32 MiB; longer rows sum in pieces.
        constexpr std::size_t kPiece = std::size_t{1} << 24;
        std::uint64_t totals[5] = {};
        for (std::size_t from = 0; from < n; from += kPiece) {
            const std::size_t to = std::min(n, from + kPiece);
            std::fill(std::begin(sums), std::end(sums), 0u);
            for (std::size_t i = from; i < to; ++i) {
                sums[0] += Cost(x[i]);
                sums[1] += Cost(sub[i]);
                sums[2] += Cost(vert[i]);
                sums[3] += Cost(avg[i]);
                sums[4] += Cost(paeth[i]);
            }
            for (int k = 0; k < 5; ++k) totals[k] += sums[k];
        }
        unsigned best = 0;
        for (unsigned k = 1; k < 5; ++k)
            if ((im_.filters & (1u << k)) && totals[k] < totals[best]) best = k;
        out[0] = static_cast<std::uint8_t>(best);
        const std::uint8_t* chosen = best == 0 ? x : trials_.data() + (best - 1) * n;
        std::memcpy(out + 1, chosen, n);
    }

    const Image& im_;
    std::vector<std::uint8_t> prev_, row_, trials_, filtered_;
    z_stream z_{};
    bool started_ = false;
};

// The file's chunks, gathered into large writes.
class ChunkWriter {
public:
    explicit ChunkWriter(TemporaryFile& out) : out_(out) { buffer_.reserve(kFileBuffer); }

    void Put(const void* data, std::size_t n)
    {
        const auto* p = static_cast<const std::uint8_t*>(data);
        buffer_.insert(buffer_.end(), p, p + n);
    }
    void Put32(std::uint32_t v)
    {
        const std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                                   static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
        Put(b, 4);
    }
    bool Chunk(const char* type, const std::uint8_t* data, std::size_t n)
    {
        Put32(static_cast<std::uint32_t>(n));
        Put(type, 4);
        uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(type), 4);
        if (n > 0) {
            Put(data, n);
            crc = crc32_z(crc, data, n);
        }
        Put32(static_cast<std::uint32_t>(crc));
        return buffer_.size() < kFileBuffer || Flush();
    }
    bool Flush()
    {
        if (!buffer_.empty() && !out_.Write(buffer_.data(), buffer_.size())) {
            writeErrno_ = errno;
            return false;
        }
        buffer_.clear();
        return true;
    }
    int WriteErrno() const { return writeErrno_; }

private:
    TemporaryFile& out_;
    std::vector<std::uint8_t> buffer_;
    int writeErrno_ = 0;
};

// The bands between the threads that code them and the one that writes
// them: band b is coded into slot b % slots once band b - slots is written,
// so memory stays a few bands a thread whatever the image's size.
class Bands {
public:
    Bands(const Image& im, std::size_t slots) : im_(im), slots_(slots) {}

    // A helper thread's life: code bands until none is left or one failed.
    void Help()
    {
        try {
            BandCoder coder(im_);
            std::unique_lock lock(mutex_);
            for (;;) {
                changed_.wait(lock, [&] { return failed_ || next_ >= im_.bands || next_ < written_ + slots_.size(); });
                if (failed_ || next_ >= im_.bands) return;
                CodeNext(coder, lock);
            }
        } catch (const std::bad_alloc&) {
            Fail("out of memory");
        }
    }

    // The writing thread's part: every band in order, coding one itself
    // whenever the next to write is not ready and a band is free to take.
    bool Write(ChunkWriter& file, const char*& message)
    {
        BandCoder coder(im_);
        uLong adler = adler32(0L, nullptr, 0);
        std::unique_lock lock(mutex_);
        while (written_ < im_.bands && !failed_) {
            Slot& slot = slots_[written_ % slots_.size()];
            if (slot.band == written_ + 1) {
                lock.unlock();
                adler = adler32_combine(adler, slot.adler, static_cast<z_off_t>(slot.bytes));
                if (written_ + 1 == im_.bands)
                    for (int shift = 24; shift >= 0; shift -= 8)
                        slot.data.push_back(static_cast<std::uint8_t>(adler >> shift));
                const bool ok = file.Chunk("IDAT", slot.data.data(), slot.data.size());
                lock.lock();
                if (!ok) {
                    failed_ = true;
                    break;
                }
                slot.band = 0;
                ++written_;
                changed_.notify_all();
            } else if (next_ < im_.bands && next_ < written_ + slots_.size()) {
                CodeNext(coder, lock);
            } else {
                changed_.wait(lock);
            }
        }
        message = message_;
        const bool ok = !failed_;
        failed_ = true;  // the helpers stop
        changed_.notify_all();
        return ok;
    }

    void Fail(const char* message)
    {
        const std::lock_guard lock(mutex_);
        if (!failed_ && !message_) message_ = message;
        failed_ = true;
        changed_.notify_all();
    }

private:
    struct Slot {
        std::size_t band = 0;  // the band held, plus 1; 0 when free
        std::vector<std::uint8_t> data;
        std::size_t bytes = 0;
        uLong adler = 0;
    };

    // Claims the next band and codes it with LOCK released.
    void CodeNext(BandCoder& coder, std::unique_lock<std::mutex>& lock)
    {
        const std::size_t b = next_++;
        Slot& slot = slots_[b % slots_.size()];
        lock.unlock();
        const char* message = nullptr;
        const bool ok = coder.Code(b, slot.data, slot.bytes, slot.adler, message);
        lock.lock();
        if (ok) {
            slot.band = b + 1;
        } else {
            if (!failed_ && !message_) message_ = message;
            failed_ = true;
        }
        changed_.notify_all();
    }

    const Image& im_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_;
    std::size_t next_ = 0;     // the next band to code
    std::size_t written_ = 0;  // bands in the file
    bool failed_ = false;
    const char* message_ = nullptr;  // zlib's complaint, when it made one
};

bool Encode(TemporaryFile& out, const Image& im, int threads, std::string& reason)
{
    ChunkWriter file(out);
    std::uint8_t header[13] = {};
    for (int k = 0; k < 4; ++k) {
        header[k] = static_cast<std::uint8_t>(im.width >> (24 - 8 * k));
        header[4 + k] = static_cast<std::uint8_t>(im.height >> (24 - 8 * k));
    }
    header[8] = static_cast<std::uint8_t>(im.layout.bitDepth);
    header[9] = im.layout.channels == ImageChannels::kGrey        ? 0   // grey
                : im.layout.channels == ImageChannels::kGreyAlpha ? 4   // grey and alpha
                                                                  : 6;  // RGBA
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    file.Put(kSignature, sizeof kSignature);
    file.Chunk("IHDR", header, sizeof header);

    const std::size_t helpers = threads > 1 ? std::min(static_cast<std::size_t>(threads - 1), im.bands - 1) : 0;
    Bands bands(im, 2 * (helpers + 1));
    std::vector<std::thread> started;
    try {
        for (std::size_t t = 0; t < helpers; ++t) started.emplace_back(&Bands::Help, &bands);
    } catch (const std::system_error&) {
        // Fewer threads than asked for still write the same file.
    }
    const char* message = nullptr;
    bool ok = false;
    try {
        ok = bands.Write(file, message);
    } catch (const std::bad_alloc&) {
        bands.Fail("out of memory");
        message = "out of memory";
    }
    for (std::thread& t : started) t.join();
    ok = ok && file.Chunk("IEND", nullptr, 0) && file.Flush();
    if (ok) return true;
    if (file.WriteErrno() != 0) reason = std::generic_category().message(file.WriteErrno());
    else reason = message ? message : "zlib failed";
    return false;
}

}  // namespace

bool WritePng(TemporaryFile& out, int width, int height, const BMM_Color_64* pixels, ImageLayout layout, int threads,
              std::string& reason)
{
    Image im{};
    im.pixels = pixels;
    im.layout = layout;
    im.width = static_cast<std::size_t>(width);
    im.height = static_cast<std::size_t>(height);
    im.pixelBytes = PixelBytes(layout);
    im.rowBytes = im.width * im.pixelBytes;
    im.lineBytes = im.rowBytes + 1;
    im.rowsPerBand = std::max<std::size_t>(1, kBandBytes / im.lineBytes);
    im.bands = (im.height + im.rowsPerBand - 1) / im.rowsPerBand;
    im.filters = FiltersFor(im.width, im.height);
    // zlib counts a call's input in 32 bits, and a band holds a row at least.
    if (im.lineBytes > kMaxLineBytes) {
        reason = "its rows are too long for this writer";
        return false;
    }
    try {
        return Encode(out, im, threads, reason);
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
        return false;
    }
}

}  // namespace dunsmere

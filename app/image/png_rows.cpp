// PNG written as libpng's own writer writes it, byte for byte, with the rows
// filtered on other threads while this one compresses.
//
// libpng filters each row and deflates it on the caller's thread, and the
// deflating is most of a write's time. A row's filter depends only on it and
// the row above, both at hand in the pixels, so the filtering can run ahead
// on other threads while zlib takes the rows in order: a write then costs
// about zlib's share alone. What has to match libpng 1.6 at its defaults:
// - the signature, IHDR, the IDAT data cut into 8192-byte chunks, IEND;
// - zlib at its default level, a 32 KiB window, memory level 8 and the
//   filtered strategy, fed the rows in order without flushes;
// - each row's filter the first of none, sub, up, average and Paeth whose
//   bytes, read as signed, have the least sum of absolute values; an image
//   one pixel wide leaves out sub, average and Paeth, one a row high up,
//   average and Paeth.
// libpng narrows zlib's window for image data of 16 KiB or less; WritePng
// leaves those images to libpng itself.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "app/image/image_codecs.h"

namespace {

constexpr std::size_t kPixelBytes = 8;  // 16-bit RGBA
constexpr std::size_t kIdatBytes = 8192;
constexpr std::size_t kBlockBytes = 64 * 1024;  // filtered rows handed over at a time
constexpr std::size_t kFileBuffer = 256 * 1024;

enum Filter : unsigned { kNone = 1, kSub = 2, kUp = 4, kAverage = 8, kPaeth = 16 };

unsigned FiltersFor(std::size_t width, std::size_t height)
{
    unsigned filters = kNone | kSub | kUp | kAverage | kPaeth;
    if (height == 1) filters &= ~(kUp | kAverage | kPaeth);
    if (width == 1) filters &= ~(kSub | kAverage | kPaeth);
    return filters;
}

// Row Y's samples as the file holds them: big-endian.
void FileRow(const BMM_Color_64* pixels, std::size_t width, std::size_t y, std::uint8_t* out)
{
    const BMM_Color_64* p = pixels + y * width;
    for (std::size_t x = 0; x < width; ++x, out += kPixelBytes) {
        const WORD s[4] = {p[x].r, p[x].g, p[x].b, p[x].a};
        for (int k = 0; k < 4; ++k) {
            out[2 * k] = static_cast<std::uint8_t>(s[k] >> 8);
            out[2 * k + 1] = static_cast<std::uint8_t>(s[k] & 0xff);
        }
    }
}

inline unsigned Cost(std::uint8_t v) { return v < 128 ? v : 256u - v; }

inline int PaethPredictor(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// The byte filter F makes of ROW[i], with PREV the row above (zeros above
// the first).
inline std::uint8_t Filtered(unsigned f, const std::uint8_t* row, const std::uint8_t* prev, std::size_t i)
{
    const int x = row[i], b = prev[i];
    const int a = i >= kPixelBytes ? row[i - kPixelBytes] : 0, c = i >= kPixelBytes ? prev[i - kPixelBytes] : 0;
    switch (f) {
    case kSub: return static_cast<std::uint8_t>(x - a);
    case kUp: return static_cast<std::uint8_t>(x - b);
    case kAverage: return static_cast<std::uint8_t>(x - ((a + b) >> 1));
    case kPaeth: return static_cast<std::uint8_t>(x - PaethPredictor(a, b, c));
    default: return static_cast<std::uint8_t>(x);
    }
}

// One filtered line, the filter's type byte first, as libpng chooses it.
void FilterLine(const std::uint8_t* row, const std::uint8_t* prev, std::size_t n, unsigned filters, std::uint8_t* out)
{
    std::uint64_t sums[5] = {};
    for (std::size_t i = 0; i < n; ++i) {
        sums[0] += Cost(Filtered(kNone, row, prev, i));
        sums[1] += Cost(Filtered(kSub, row, prev, i));
        sums[2] += Cost(Filtered(kUp, row, prev, i));
        sums[3] += Cost(Filtered(kAverage, row, prev, i));
        sums[4] += Cost(Filtered(kPaeth, row, prev, i));
    }
    unsigned best = 0;
    for (unsigned k = 1; k < 5; ++k)
        if ((filters & (1u << k)) && sums[k] < sums[best]) best = k;
    const unsigned f = 1u << best;
    out[0] = static_cast<std::uint8_t>(best);
    for (std::size_t i = 0; i < n; ++i) out[1 + i] = Filtered(f, row, prev, i);
}

struct Image {
    const BMM_Color_64* pixels;
    std::size_t width, height, rowBytes, lineBytes, rowsPerBlock, blocks;
    unsigned filters;
};

// Rows of block B filtered into OUT; ROWS holds two file rows of scratch.
void FilterBlock(const Image& im, std::size_t b, std::uint8_t* rows, std::uint8_t* out)
{
    std::uint8_t* prev = rows;
    std::uint8_t* row = rows + im.rowBytes;
    const std::size_t y0 = b * im.rowsPerBlock, y1 = std::min(im.height, y0 + im.rowsPerBlock);
    if (y0 > 0) FileRow(im.pixels, im.width, y0 - 1, prev);
    else std::memset(prev, 0, im.rowBytes);
    for (std::size_t y = y0; y < y1; ++y, out += im.lineBytes) {
        FileRow(im.pixels, im.width, y, row);
        FilterLine(row, prev, im.rowBytes, im.filters, out);
        std::swap(row, prev);
    }
}

std::size_t BlockBytes(const Image& im, std::size_t b)
{
    return (std::min(im.height, (b + 1) * im.rowsPerBlock) - b * im.rowsPerBlock) * im.lineBytes;
}

// The file's chunks, gathered into large writes.
class ChunkWriter {
public:
    explicit ChunkWriter(TemporaryFile& out) : out_(out) { buffer_.reserve(kFileBuffer + kIdatBytes + 64); }

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
        if (n > 0) Put(data, n);
        uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(type), 4);
        if (n > 0) crc = crc32(crc, data, static_cast<uInt>(n));
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

// zlib's stream and the IDAT chunk it fills.
class IdatStream {
public:
    IdatStream(ChunkWriter& file) : file_(file) {}
    ~IdatStream()
    {
        if (started_) deflateEnd(&z_);
    }
    bool Start()
    {
        started_ = deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_FILTERED) == Z_OK;
        z_.next_out = chunk_;
        z_.avail_out = kIdatBytes;
        return started_;
    }
    // DATA deflated, or with FINISH the stream ended; false on a failed
    // write, or zlib's complaint in MESSAGE.
    bool Deflate(const std::uint8_t* data, std::size_t n, bool finish, const char*& message)
    {
        z_.next_in = const_cast<Bytef*>(data);
        z_.avail_in = static_cast<uInt>(n);
        const int flush = finish ? Z_FINISH : Z_NO_FLUSH;
        for (;;) {
            const int ret = deflate(&z_, flush);
            if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) {
                message = z_.msg ? z_.msg : "zlib failed";
                return false;
            }
            if (z_.avail_out == 0) {
                if (!file_.Chunk("IDAT", chunk_, kIdatBytes)) return false;
                z_.next_out = chunk_;
                z_.avail_out = kIdatBytes;
                if (ret != Z_STREAM_END) continue;
                return true;
            }
            if (ret == Z_STREAM_END) return kIdatBytes == z_.avail_out || file_.Chunk("IDAT", chunk_, kIdatBytes - z_.avail_out);
            if (!finish && z_.avail_in == 0) return true;
        }
    }

private:
    ChunkWriter& file_;
    z_stream z_{};
    bool started_ = false;
    std::uint8_t chunk_[kIdatBytes];
};

// The filter threads' hand-over: block b goes to slot b % slots once the
// deflater is done with block b - slots.
struct Handover {
    std::vector<std::vector<std::uint8_t>> slots;
    std::vector<std::atomic<std::size_t>> filled;  // per slot: the block it holds, plus 1
    std::atomic<std::size_t> next{0};              // the next block to claim
    std::atomic<std::size_t> consumed{0};          // blocks deflated
    std::atomic<bool> stop{false};

    Handover(std::size_t count, std::size_t bytes) : slots(count, std::vector<std::uint8_t>(bytes)), filled(count) {}
};

void FilterThread(const Image& im, Handover& h, std::uint8_t* rows)
{
    const std::size_t n = h.slots.size();
    for (;;) {
        const std::size_t b = h.next.fetch_add(1);
        if (b >= im.blocks) return;
        for (std::size_t done = h.consumed.load(); done + n <= b; done = h.consumed.load()) {
            if (h.stop.load()) return;
            h.consumed.wait(done);
        }
        if (h.stop.load()) return;
        FilterBlock(im, b, rows, h.slots[b % n].data());
        h.filled[b % n].store(b + 1);
        h.filled[b % n].notify_all();
    }
}

// The deflating side: every block in order, from the slots when filter
// threads run, else filtered here.
bool DeflateBlocks(const Image& im, IdatStream& idat, Handover* h, std::uint8_t* rows, std::uint8_t* own,
                   const char*& message)
{
    for (std::size_t b = 0; b < im.blocks; ++b) {
        const std::uint8_t* data = own;
        if (h) {
            const std::size_t slot = b % h->slots.size();
            for (std::size_t at = h->filled[slot].load(); at != b + 1; at = h->filled[slot].load())
                h->filled[slot].wait(at);
            data = h->slots[slot].data();
        } else {
            FilterBlock(im, b, rows, own);
        }
        const bool ok = idat.Deflate(data, BlockBytes(im, b), false, message);
        if (h) {
            h->consumed.store(b + 1);
            h->consumed.notify_all();
        }
        if (!ok) return false;
    }
    return idat.Deflate(nullptr, 0, true, message);
}

bool Encode(TemporaryFile& out, const Image& im, int threads, std::string& reason)
{
    ChunkWriter file(out);
    IdatStream idat(file);
    if (!idat.Start()) {
        reason = "zlib could not start";
        return false;
    }
    std::uint8_t header[13] = {};
    for (int k = 0; k < 4; ++k) {
        header[k] = static_cast<std::uint8_t>(im.width >> (24 - 8 * k));
        header[4 + k] = static_cast<std::uint8_t>(im.height >> (24 - 8 * k));
    }
    header[8] = 16;  // bits per sample
    header[9] = 6;   // RGBA
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    file.Put(kSignature, sizeof kSignature);
    file.Chunk("IHDR", header, sizeof header);

    const std::size_t helpers = threads > 1 ? std::min(static_cast<std::size_t>(threads - 1), im.blocks) : 0;
    std::vector<std::uint8_t> rows(2 * im.rowBytes * (helpers + 1));
    std::vector<std::uint8_t> own(helpers == 0 ? im.rowsPerBlock * im.lineBytes : 0);
    Handover handover(helpers == 0 ? 0 : 2 * helpers + 2, im.rowsPerBlock * im.lineBytes);
    std::vector<std::thread> filters;
    try {
        for (std::size_t t = 0; t < helpers; ++t)
            filters.emplace_back(FilterThread, std::cref(im), std::ref(handover), rows.data() + 2 * im.rowBytes * (t + 1));
    } catch (const std::system_error&) {
        // Fewer threads than asked for still write the same file.
        if (filters.empty()) own.resize(im.rowsPerBlock * im.lineBytes);
    }
    const char* message = nullptr;
    bool ok = DeflateBlocks(im, idat, filters.empty() ? nullptr : &handover, rows.data(), own.data(), message);
    if (!filters.empty() && !ok) {
        handover.stop.store(true);
        handover.consumed.store(im.blocks + handover.slots.size());
        handover.consumed.notify_all();
    }
    for (std::thread& t : filters) t.join();
    ok = ok && file.Chunk("IEND", nullptr, 0) && file.Flush();
    if (ok) return true;
    if (file.WriteErrno() != 0) reason = std::generic_category().message(file.WriteErrno());
    else reason = message ? message : "zlib failed";
    return false;
}

}  // namespace

bool WritePngRows(TemporaryFile& out, int width, int height, const BMM_Color_64* pixels, int threads,
                  std::string& reason)
{
    Image im{};
    im.pixels = pixels;
    im.width = static_cast<std::size_t>(width);
    im.height = static_cast<std::size_t>(height);
    im.rowBytes = im.width * kPixelBytes;
    im.lineBytes = im.rowBytes + 1;
    im.rowsPerBlock = std::max<std::size_t>(1, kBlockBytes / im.lineBytes);
    im.blocks = (im.height + im.rowsPerBlock - 1) / im.rowsPerBlock;
    im.filters = FiltersFor(im.width, im.height);
    try {
        return Encode(out, im, threads, reason);
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
        return false;
    }
}

std::size_t PngImageBytes(int width, int height)
{
    return (static_cast<std::size_t>(width) * kPixelBytes + 1) * static_cast<std::size_t>(height);
}

#include "app/image/file_bitmaps.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <utility>

#include "app/image/image_files.h"

namespace dunsmere {

// The manager's bitmap: held in memory, written by WriteImageFile.
class FileOutputBitmap : public MemoryBitmap {
public:
    FileOutputBitmap(int width, int height, FileBitmapManager& manager) : MemoryBitmap(width, height), manager_(manager) {}

    int OpenOutput(BitmapInfo* info) override
    {
        open_ = false;
        if (!info) return Fail("cannot write the map: no output file was chosen");
        if (info->Name().empty() && !manager_.keepPixels_) return Fail("cannot write the map: no output file was chosen");
        if (!info->Name().empty() && !IsSupportedImagePath(info->Name()))
            return Fail("cannot write " + info->Name() + ": unknown image type (use " + SupportedImageExtensions() + ")");
        open_ = true;
        manager_.RecordOpen();
        return BMMRES_SUCCESS;
    }

    int Write(BitmapInfo* info, std::uint32_t) override
    {
        if (!open_ || !info) return Fail("cannot write the map: its output was not opened");
        // The plug-in calls this: an error becomes the manager's record here
        // and never travels into the plug-in.
        try {
            if (!info->Name().empty())
                WriteImageFile(info->Name(), Width(), Height(), Pixels(), manager_.writeThreads_,
                               manager_.WriteLayout(info->Name()));
            if (manager_.keepPixels_) manager_.Keep(Width(), Pixels());
        } catch (const ImageFileError& e) {
            return Fail(e.what());
        } catch (const std::bad_alloc&) {
            return Fail("cannot write " + info->Name() + ": out of memory");
        }
        manager_.RecordWrite(info->Name(), Pixels());
        return BMMRES_SUCCESS;
    }

    int Close(BitmapInfo*, int) override
    {
        open_ = false;
        return BMMRES_SUCCESS;
    }

private:
    int Fail(std::string message)
    {
        manager_.RecordFailure(std::move(message));
        return BMMRES_ERRORTAKENCARE;
    }

    FileBitmapManager& manager_;
    bool open_ = false;
};

FileBitmapManager::FileBitmapManager(std::string outputPath) : outputPath_(std::move(outputPath)) {}

Bitmap* FileBitmapManager::Create(BitmapInfo* info)
{
    if (!info || info->Width() == 0 || info->Height() == 0) return nullptr;
    // A throw would unwind into the plug-in, which takes it for a bug.
    try {
        return new FileOutputBitmap(info->Width(), info->Height(), *this);
    } catch (const std::bad_alloc&) {
        RecordFailure("cannot make the " + std::to_string(info->Width()) + " x " + std::to_string(info->Height()) +
                      " map: out of memory");
        return nullptr;
    }
}

int FileBitmapManager::SelectFileOutput(BitmapInfo* info, void*, const char*)
{
    if (!info || (outputPath_.empty() && !keepPixels_)) return 0;
    info->SetName(outputPath_);
    return 1;
}

void FileBitmapManager::SetWriteLayout(std::optional<ImageChannels> channels, int bitDepth, bool coverageAlpha)
{
    channels_ = channels;
    bitDepth_ = bitDepth;
    coverageAlpha_ = coverageAlpha;
}

ImageLayout FileBitmapManager::WriteLayout(const std::string& path) const
{
    if (channels_) return {*channels_, bitDepth_};
    if (ImageFormatOf(path) == ImageFormat::kExr) return {ImageChannels::kRgba, bitDepth_};
    return {coverageAlpha_ ? ImageChannels::kGreyAlpha : ImageChannels::kGrey, bitDepth_};
}

void FileBitmapManager::Keep(int width, const std::vector<BMM_Color_64>& pixels)
{
    kept_ = pixels;
    keptWidth_ = width;
}

void FileBitmapManager::RecordFailure(std::string message)
{
    written_ = false;
    error_ = std::move(message);
}

void FileBitmapManager::RecordWrite(const std::string& path, const std::vector<BMM_Color_64>& pixels)
{
    // Rounding to 8 bits keeps the levels' order, so only the sum needs
    // each texel's own; integers keep the loop short for a 4096 map.
    const bool eightBit = WriteLayout(path).bitDepth == 8;
    WORD lo = 65535, hi = 0;
    std::uint64_t sum = 0;
    for (const BMM_Color_64& p : pixels) {
        lo = std::min(lo, p.r);
        hi = std::max(hi, p.r);
        sum += eightBit ? Level8(p.r) : p.r;
    }
    const auto written = [eightBit](WORD level) { return eightBit ? static_cast<WORD>(Level8(level) * 257) : level; };
    levels_ = {};
    if (!pixels.empty()) {
        const double scale = eightBit ? 257.0 : 1.0;
        levels_ = {written(lo), written(hi), static_cast<double>(sum) * scale / static_cast<double>(pixels.size())};
    }
    written_ = true;
    writtenPath_ = path;
    error_.clear();
}

}  // namespace dunsmere

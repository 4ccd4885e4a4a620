// The standalone command's bitmap manager: the output file is the one named
// on the command line, and a bitmap writes itself there as the extension says
// (app/image/image_files.h).
//
// A bitmap writes its file on Write, so that the error reaches the caller of
// Write; Close writes nothing. OpenOutput checks the name before any write.
// Each OpenOutput or Write outcome is recorded in the manager, which the
// command asks afterwards whether the output was written. The manager must
// outlive its bitmaps. User-interface thread only.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/image/image_files.h"
#include "host/bitmap.h"

namespace dunsmere {

class FileOutputBitmap;

class FileBitmapManager : public BitmapManager {
public:
    // OUTPUT_PATH may be empty: then no output file can be chosen, unless
    // the pixels are kept.
    explicit FileBitmapManager(std::string outputPath);

    // Keeps a written map's pixels in the manager, after its file is
    // written, or instead of one where there is no output path.
    void KeepPixels() { keepPixels_ = true; }
    // The latest write's pixels, row 0 at the top, while kept; empty before.
    const std::vector<BMM_Color_64>& KeptPixels() const { return kept_; }
    int KeptWidth() const { return keptWidth_; }

    // A bitmap of the info's width and height (its type is not consulted:
    // storage is always 16-bit RGBA), or null without an info, when either
    // size is 0, or when its pixels cannot be had (then recorded as the
    // manager's error).
    Bitmap* Create(BitmapInfo* info) override;
    // Names the output path in the info and returns 1; 0, leaving the info
    // alone, when there is no output path and no pixels are kept.
    int SelectFileOutput(BitmapInfo* info, void* parentWindow, const char* title = nullptr) override;

    const std::string& OutputPath() const { return outputPath_; }
    // Where the next write goes, for a host that writes several maps in one
    // session (the tiles of a UDIM map).
    void SetOutputPath(std::string outputPath) { outputPath_ = std::move(outputPath); }
    // Whether a write succeeded and no OpenOutput or Write failed after it.
    bool Written() const { return written_; }
    // The file the latest successful write produced; "" before any.
    const std::string& WrittenPath() const { return writtenPath_; }
    // Why the latest OpenOutput or Write failed, naming the file; "" when the
    // latest of them succeeded or none was made.
    const std::string& Error() const { return error_; }

    // The grey levels of the latest successful write as its file holds
    // them (an 8-bit level as that times 257), every texel counted.
    struct Levels {
        WORD min = 0, max = 0;
        double mean = 0.0;
    };
    const Levels& WrittenLevels() const { return levels_; }

    // The threads a write may use (WriteImageFile); 1 until set.
    void SetWriteThreads(int threads) { writeThreads_ = threads; }
    // What a write holds: CHANNELS where given, else grey for PNG and TIFF
    // (grey and alpha with COVERAGE_ALPHA, where alpha means something)
    // and RGBA for OpenEXR; BIT_DEPTH bits a sample. 16-bit RGBA until set.
    void SetWriteLayout(std::optional<ImageChannels> channels, int bitDepth, bool coverageAlpha);
    // The layout a write to PATH takes.
    ImageLayout WriteLayout(const std::string& path) const;

private:
    friend class FileOutputBitmap;
    void RecordFailure(std::string message);
    void RecordWrite(const std::string& path, const std::vector<BMM_Color_64>& pixels);
    void RecordOpen() { error_.clear(); }
    void Keep(int width, const std::vector<BMM_Color_64>& pixels);

    std::string outputPath_;
    int writeThreads_ = 1;
    std::optional<ImageChannels> channels_ = ImageChannels::kRgba;
    int bitDepth_ = 16;
    bool coverageAlpha_ = false;
    bool keepPixels_ = false;
    std::vector<BMM_Color_64> kept_;
    int keptWidth_ = 0;
    bool written_ = false;
    std::string writtenPath_;
    std::string error_;
    Levels levels_;
};

}  // namespace dunsmere

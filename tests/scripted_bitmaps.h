// A bitmap manager of the tests' own: it creates memory bitmaps (or none),
// answers the output-file choice as scripted, and records what it was asked
// and what was written. A released bitmap leaves its pixels behind.
#pragma once

#include <string>
#include <vector>

#include "host/bitmap.h"

namespace dunsmere {

class ScriptedBitmapManager : public BitmapManager {
public:
    bool createsNothing = false;
    int chooseOutput = 1;        // SelectFileOutput's answer
    int widthOnChoice = 0;       // nonzero: the choice rewrites the info's width

    std::vector<BitmapInfo> created;       // the info as Create saw it
    int choices = 0;
    void* chooseParent = reinterpret_cast<void*>(1);
    std::vector<std::string> outputCalls;  // "open WIDTH", "write FRAME", "close FLAG"
    int deleted = 0;
    int width = 0;                         // of the last bitmap released
    std::vector<BMM_Color_64> pixels;      // of the last bitmap released, row by row

    Bitmap* Create(BitmapInfo* info) override
    {
        created.push_back(*info);
        return createsNothing ? nullptr : new Recording(*this, info->Width(), info->Height());
    }
    int SelectFileOutput(BitmapInfo* info, void* parentWindow, const char*) override
    {
        ++choices;
        chooseParent = parentWindow;
        if (chooseOutput && widthOnChoice) info->SetWidth(static_cast<WORD>(widthOnChoice));
        return chooseOutput;
    }
    const BMM_Color_64& Pixel(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }

private:
    class Recording : public MemoryBitmap {
    public:
        Recording(ScriptedBitmapManager& owner, int w, int h) : MemoryBitmap(w, h), owner_(owner) {}
        int OpenOutput(BitmapInfo* info) override { return Log("open " + std::to_string(info->Width())); }
        int Write(BitmapInfo*, std::uint32_t frame) override
        {
            return Log("write " + std::to_string(static_cast<std::int32_t>(frame)));
        }
        int Close(BitmapInfo*, int flag) override { return Log("close " + std::to_string(flag)); }
        void DeleteThis() override
        {
            ++owner_.deleted;
            owner_.width = Width();
            owner_.pixels = Pixels();
            delete this;
        }

    private:
        int Log(std::string call)
        {
            owner_.outputCalls.push_back(std::move(call));
            return BMMRES_SUCCESS;
        }
        ScriptedBitmapManager& owner_;
    };
};

// Installs a bitmap manager for its lifetime, then puts the previous one back.
class BitmapManagerScope {
public:
    explicit BitmapManagerScope(BitmapManager* manager) : previous_(TheManager()) { SetBitmapManager(manager); }
    ~BitmapManagerScope() { SetBitmapManager(previous_); }
    BitmapManagerScope(const BitmapManagerScope&) = delete;
    BitmapManagerScope& operator=(const BitmapManagerScope&) = delete;

private:
    BitmapManager* previous_;
};

}  // namespace dunsmere

#include "app/session/edit_session.h"

#include "host/dialog.h"
#include "host/runtime.h"

namespace dunsmere {

HostInstalls::HostInstalls(StandaloneHost& host, BitmapManager& bitmaps)
{
    SetCOREInterface(&host);
    SetWindowSystem(&host);
    SetBitmapManager(&bitmaps);
}

HostInstalls::~HostInstalls()
{
    SetBitmapManager(nullptr);
    SetWindowSystem(nullptr);
    SetCOREInterface(nullptr);
}

EditSession::EditSession(StandaloneHost& host, const FoundPlugin& plugin) : host_(host)
{
    utility_ = static_cast<UtilityObj*>(plugin.desc->Create(FALSE));
    if (!utility_) throw SessionError(plugin.path + ": the descriptor created no utility");
    utility_->BeginEditParams(&host_, &iutil_);
    if (!host_.Page()) {
        utility_ = nullptr;  // nothing opened, nothing to close
        throw SessionError(plugin.path + ": the utility opened no panel");
    }
}

std::vector<Panel::Page> EditSession::Pages() const
{
    std::vector<Panel::Page> pages;
    for (const StandaloneHost::RollupPage& p : host_.Pages()) pages.push_back({p.window.get(), p.title});
    return pages;
}

void EditSession::End()
{
    if (utility_) utility_->EndEditParams(&host_, &iutil_);
    utility_ = nullptr;
}

}  // namespace dunsmere

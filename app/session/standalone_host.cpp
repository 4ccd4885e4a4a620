#include "app/session/standalone_host.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

namespace dunsmere {

namespace {

// Progress for a client that shows none: only the state the host reads.
class NoProgress final : public ProgressSink {
public:
    void Start(const char*) override { active_ = true; }
    void Phase(const char* name) override { phase_ = name; }
    void Update(int) override {}
    void End() override { active_ = false; }
    bool Active() const override { return active_; }
    const std::string& PhaseName() const override { return phase_; }
    void Complete() override {}
    void Cancelled() override {}
    void Interrupt() override {}

private:
    bool active_ = false;
    std::string phase_;
};

}  // namespace

// The host whose sleep the calling thread is in.
thread_local const StandaloneHost* StandaloneHost::t_sleeper = nullptr;

StandaloneHost::StandaloneHost(std::string configDir, HostHooks hooks)
    : configDir_(std::move(configDir)), hooks_(std::move(hooks)), silent_(std::make_unique<NoProgress>()),
      progress_(hooks_.progress ? *hooks_.progress : *silent_)
{
}

StandaloneHost::~StandaloneHost() = default;

std::string NodeName(const std::string& input) { return std::filesystem::path(input).stem().string(); }

const char* StandaloneHost::GetDir(int which) { return which == APP_PLUGCFG_DIR ? configDir_.c_str() : ""; }

INode* StandaloneHost::GetSelNode(int i)
{
    return i >= 0 && i < static_cast<int>(selection.size()) ? selection[static_cast<size_t>(i)] : nullptr;
}

INode* StandaloneHost::GetOccluderNode(int i)
{
    return i >= 0 && i < static_cast<int>(occluders.size()) ? occluders[static_cast<size_t>(i)].get() : nullptr;
}

INode* StandaloneHost::GetSourceNode(int i)
{
    return i >= 0 && i < static_cast<int>(sources.size()) ? sources[static_cast<size_t>(i)].get() : nullptr;
}

void StandaloneHost::ProjectionDone(const ProjectionReport& report)
{
    RunOutcome::Projection& p = outcome.projection.emplace();
    p.samples = report.samples;
    p.missed = report.missed;
    p.front = report.front;
    p.rear = report.rear;
    if (!report.missLevels || report.missWidth <= 0 || report.missHeight <= 0) return;
    p.missWidth = report.missWidth;
    p.missHeight = report.missHeight;
    p.missLevels.assign(report.missLevels,
                        report.missLevels + static_cast<std::size_t>(report.missWidth) * report.missHeight);
}

void StandaloneHost::ProgressStart(const char* title, int, ProgressCallback fn, void* arg)
{
    timings.Record(RunTimings::kBuild);
    workerQueries_ = 0;
    progress_.Start(title);
    if (fn) fn(arg);
}

void StandaloneHost::ProgressUpdate(int percent, int, const char*)
{
    timings.Record(RunTimings::kRasterize);
    // Updates before the workers start are the map's rasterizing.
    if (progress_.Active() && progress_.PhaseName().empty()) progress_.Phase("Rasterizing");
    progress_.Update(percent);
}

int StandaloneHost::GetCancel()
{
    if (!CancelAsked()) return 0;
    outcome.cancelReached = true;
    return 1;
}

void StandaloneHost::ProgressEnd()
{
    // A cancelled vertex-colour run shows no message: its bar says it here.
    if (outcome.cancelReached) progress_.Cancelled();
    progress_.End();
}

int StandaloneHost::MessageBox(const char* text, const char* title, unsigned type)
{
    // Every line of a message carries the title, as a log reader greps it.
    const std::string prefix = std::string(title && *title ? title : "Dunsmere") + ": ";
    std::string shown = prefix + (text ? text : "");
    for (size_t nl = shown.find('\n'); nl != std::string::npos && nl + 1 < shown.size();
         nl = shown.find('\n', nl + 1 + prefix.size()))
        shown.insert(nl + 1, prefix);
    const bool question = (type & MB_YESNO) != 0;
    const bool refusal = (type & MB_ICONINFORMATION) != 0;
    if (refusal) outcome.refused = true;
    if (!question && !refusal) {
        // A completion or elapsed-time message: the bar ends first, on
        // 100 %, or where a cancel left it.
        outcome.completed = true;
        timings.Record(RunTimings::kPasses);
        if (outcome.cancelReached) progress_.Cancelled();
        else progress_.Complete();
    }
    progress_.Interrupt();
    if (!question) {
        if (hooks_.message) hooks_.message(shown, refusal ? MessageKind::kRefusal : MessageKind::kNote);
        return IDOK;
    }
    return hooks_.message && hooks_.message(shown, MessageKind::kQuestion) ? IDYES : IDNO;
}

void StandaloneHost::Sleep(int milliseconds)
{
    BeginRays();
    // Wake early when the user cancels, so that Ctrl-C feels immediate.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < until && !CancelAsked())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// A generation asks twice after its ProgressStart: for the threads of its
// ray scene's build, then just before it starts its workers, where the rays
// begin.
int StandaloneHost::WorkerThreadCount()
{
    if (++workerQueries_ == 2) BeginRays();
    return workerThreads;
}

// Also at each sleep, for a generation that asks only once.
void StandaloneHost::BeginRays()
{
    timings.Record(RunTimings::kRays);
    if (progress_.PhaseName() != "Baking") progress_.Phase("Baking");
}

void StandaloneHost::SleepUnlessWoken(int milliseconds)
{
    BeginRays();
    // A signal handler cannot wake the sleep: the cancel is polled, by the
    // sleeping thread itself.
    t_sleeper = this;
    wake_.Sleep(milliseconds, [] { return t_sleeper->CancelAsked(); });
    t_sleeper = nullptr;
}

void StandaloneHost::WakeSleeper() { wake_.Wake(); }

std::int64_t StandaloneHost::Time() { return static_cast<std::int64_t>(std::time(nullptr)); }

HWND StandaloneHost::AddRollupPage(HINSTANCE instance, int templateId, DLGPROC proc, const char* title, LPARAM param,
                                   DWORD, int)
{
    const DialogTemplate* tmpl = FindDialogTemplate(instance, templateId);
    if (!tmpl) return nullptr;
    // In place before its opening, as the page it will be.
    pages_.push_back({std::make_unique<DialogWindow>(*tmpl, proc, instance), title ? title : ""});
    HWND page = pages_.back().window.get();
    page->Send(WM_INITDIALOG, 0, param);
    return page;
}

void StandaloneHost::DeleteRollupPage(HWND page)
{
    const auto it = std::find_if(pages_.begin(), pages_.end(), [page](const RollupPage& p) {
        return page && p.window.get() == page;
    });
    if (it == pages_.end()) return;
    page->Send(WM_DESTROY);
    pages_.erase(it);
}

INT_PTR StandaloneHost::RunModal(DialogWindow& dialog)
{
    const DialogTemplate& t = dialog.Template();
    auto show = [this](const char* line) {
        dialogLines.emplace_back(line);
        if (printDialogs) std::printf("%s\n", line);
    };
    if (t.caption) show(t.caption);
    for (const DialogControl& c : dialog.Controls()) {
        const ControlKind k = c.tmpl.kind;
        if ((k == ControlKind::Text || k == ControlKind::CentredText) && c.tmpl.caption) show(c.tmpl.caption);
    }
    dialog.Send(WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
    if (!dialog.Ended()) dialog.Send(WM_CLOSE);
    return dialog.Result();
}

}  // namespace dunsmere

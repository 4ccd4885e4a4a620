#include "python/bake_call.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/command/command.h"
#include "app/command/refusals.h"
#include "app/session/panel.h"

namespace py = pybind11;

namespace dunsmere {
namespace {

// A map's run shows two phases, Rasterizing and Baking, each from 0 to
// 100 %; a vertex-colour run the same. Python sees one fraction for the
// whole run that never falls, whatever phases come.
class FractionSink final : public ProgressSink {
public:
    static constexpr int kPhases = 2;

    void Start(const char*) override { active_ = true; }
    void Phase(const char* name) override
    {
        name_ = name;
        ++phase_;
        Publish(0);
    }
    void Update(int percent) override { Publish(percent); }
    void End() override { active_ = false; }
    bool Active() const override { return active_; }
    const std::string& PhaseName() const override { return name_; }
    void Complete() override { Raise(1.0); }
    void Cancelled() override {}
    void Interrupt() override {}

    double Fraction() const { return fraction_.load(std::memory_order_relaxed); }

private:
    void Publish(int percent)
    {
        const int phase = std::max(phase_, 1);
        Raise((phase - 1 + std::clamp(percent, 0, 100) / 100.0) / std::max(kPhases, phase));
    }
    void Raise(double f)
    {
        if (f > fraction_.load(std::memory_order_relaxed)) fraction_.store(f, std::memory_order_relaxed);
    }

    bool active_ = false;
    int phase_ = 0;
    std::string name_;
    std::atomic<double> fraction_{0.0};
};

// A thread that waits for a bake: a second bake it starts (from a progress
// callback) would wait for itself.
thread_local bool t_waiting = false;

// What the command refuses before it bakes: a number outside its control's
// range (the command's message, by the keyword's name), and a map that
// would bake no face.
void Refuse(const PanelSettings& settings, const Panel& panel, const std::vector<SceneNode*>& meshes)
{
    for (const auto& [option, value] : settings.numbers) {
        const std::optional<Panel::Limits> limits = panel.AnySpinnerLimits(option);
        if (!limits || (value >= static_cast<double>(limits->min) && value <= static_cast<double>(limits->max))) continue;
        std::ostringstream s;
        s << (option == "width" || option == "height" ? "size" : option) << " " << value << " is outside its range "
          << static_cast<double>(limits->min) << " to " << static_cast<double>(limits->max);
        std::string text = s.str();
        std::replace(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(text.find(' ')), '-', '_');
        throw BakeRefused(text);
    }
    if (panel.Algorithm() != BakeAlgorithm::kUVMap || meshes.size() != 1) return;
    try {
        RefuseUselessMap(*meshes[0], panel.MapFilter());
    } catch (const CommandError& e) {
        throw BakeRefused(e.what());
    }
}

struct Run {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    BakeOutcome outcome;
    std::exception_ptr error;
};

}  // namespace

BakeOutcome Bake(const MeshFile& mesh, const BakeRequest& request, const py::object& progress,
                 const std::shared_ptr<CancelToken>& cancel)
{
    if (t_waiting) throw std::runtime_error("a bake cannot start while this thread waits for another (a progress callback)");
    FractionSink sink;
    std::atomic<bool> interrupted{false};
    HostHooks hooks;
    hooks.progress = &sink;
    hooks.cancelled = [&interrupted, cancel] { return interrupted.load() || (cancel && cancel->set.load()); };
    const bool keep = request.keepPartial;
    hooks.message = [keep](const std::string&, MessageKind kind) { return kind == MessageKind::kQuestion && keep; };

    // Everything that can refuse the request does so here, on the caller's thread.
    auto session = std::make_unique<BakeSession>(hooks);
    session->AddMesh(mesh);
    for (const auto& occluder : request.occluders) session->AddOccluder(*occluder);
    session->SetGroundPlane(request.groundPlane);
    session->SetAlgorithm(request.settings.algorithm);
    for (const auto& [option, value] : request.settings.numbers) session->Type(option, value);
    for (const auto& [option, on] : request.settings.ticks) session->Tick(option, on);
    session->SetThreads(request.threads);
    session->SetCheck([&request](const Panel& panel, const std::vector<SceneNode*>& meshes) {
        Refuse(request.settings, panel, meshes);
    });

    Run run;
    std::exception_ptr pending;  // the interpreter's: a signal or the callback's exception
    double shown = -1.0;
    {
        py::gil_scoped_release released;
        t_waiting = true;
        std::thread worker([&run, &session] {
            BakeOutcome outcome;
            std::exception_ptr error;
            try {
                outcome = session->Generate();
            } catch (...) {
                error = std::current_exception();
            }
            const std::lock_guard lock(run.mutex);
            run.outcome = std::move(outcome);
            run.error = error;
            run.finished = true;
            run.done.notify_all();
        });
        for (bool finished = false; !finished;) {
            {
                std::unique_lock lock(run.mutex);
                finished = run.done.wait_for(lock, std::chrono::milliseconds(100), [&run] { return run.finished; });
            }
            if (pending) continue;
            const py::gil_scoped_acquire held;
            try {
                const double fraction = sink.Fraction();
                if (!progress.is_none() && fraction > shown) {
                    shown = fraction;
                    progress(fraction);
                }
                if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            } catch (...) {
                pending = std::current_exception();
                interrupted = true;
            }
        }
        worker.join();
        t_waiting = false;
    }
    session.reset();
    if (pending) std::rethrow_exception(pending);
    if (run.error) std::rethrow_exception(run.error);
    return std::move(run.outcome);
}

}  // namespace dunsmere

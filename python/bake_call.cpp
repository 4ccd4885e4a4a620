#include "python/bake_call.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/command/command.h"
#include "app/command/refusals.h"
#include "app/command/scaling.h"
#include "app/session/panel.h"
#include "app/session/standalone_host.h"
#include "python/mesh_arrays.h"

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

// What the command does last before it bakes: refuse a number outside its
// control's range (the command's message, by the keyword's name), type the
// distance and noise size at the scale the distance needs, and refuse a map
// that would bake no face. EXPONENT gets the scale's power of two; what
// Finish returns puts the scale back.
std::function<void()> Finish(const BakeRequest& request, const Panel& panel, StandaloneHost& host, int& exponent)
{
    std::vector<std::pair<std::string, double>> numbers = request.settings.numbers;
    if (request.noiseSize) numbers.emplace_back("noise-size", *request.noiseSize);
    for (const auto& [option, value] : numbers) {
        const std::optional<Panel::Limits> limits = panel.AnySpinnerLimits(option);
        if (!limits || (value >= static_cast<double>(limits->min) && value <= static_cast<double>(limits->max))) continue;
        std::ostringstream s;
        s << (option == "width" || option == "height" ? "size" : option) << " " << value << " is outside its range "
          << static_cast<double>(limits->min) << " to " << static_cast<double>(limits->max);
        std::string text = s.str();
        std::replace(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(text.find(' ')), '-', '_');
        throw BakeRefused(text);
    }
    CommandOptions o;
    o.quiet = true;
    o.distance = request.distance;
    o.noiseSize = request.noiseSize;
    o.distanceRelative = request.distanceRelative;
    o.rayDistance = request.rayDistance;
    try {
        auto scaled = std::make_shared<ScaledNode>(ApplyWithDistance(o, host, panel));
        exponent = host.outcome.distanceExponent;
        if (panel.Algorithm() == BakeAlgorithm::kUVMap && host.selection.size() == 1)
            RefuseUselessMap(*host.selection[0], panel.MapFilter());
        return [scaled] { scaled->Restore(); };
    } catch (const CommandError& e) {
        throw BakeRefused(e.what());
    }
}

// A copy of FILE (the session takes its own), a mesh from arrays named by
// its part in the bake so that a message about it says which it is.
MeshFile Named(const MeshFile& file, const std::string& name)
{
    MeshFile copy = file;
    if (copy.path == kArraysName) copy.path = name;
    return copy;
}

struct Run {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    BakeOutcome outcome;
    std::exception_ptr error;
    double seconds = 0.0;  // in Generate, for the bench's measure of what the module adds
};

}  // namespace

BakeOutcome Bake(const MeshFile* mesh, const BakeRequest& request, const py::object& progress,
                 const std::shared_ptr<CancelToken>& cancel, double* sessionSeconds)
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
    if (mesh) session->AddMesh(*mesh);
    for (const auto& occluder : request.occluders) session->AddOccluder(*occluder);
    session->SetGroundPlane(request.groundPlane);
    for (std::size_t i = 0; i < request.sources.size(); ++i)
        session->AddSource(Named(*request.sources[i], "high mesh " + std::to_string(i + 1)));
    if (request.cage) session->SetCage(Named(*request.cage, "cage"));
    session->KeepMissMap(request.keepMissMap);
    session->SetAlgorithm(request.settings.algorithm);
    for (const auto& [option, value] : request.settings.numbers) session->Type(option, value);
    for (const auto& [option, on] : request.settings.ticks) session->Tick(option, on);
    session->SetThreads(request.threads);
    int exponent = 0;
    session->SetCheck([&request, &exponent](const Panel& panel, StandaloneHost& host) {
        return Finish(request, panel, host, exponent);
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
                const auto start = std::chrono::steady_clock::now();
                outcome = session->Generate();
                run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    if (sessionSeconds) *sessionSeconds = run.seconds;
    if (ProjectionOutcome* p = run.outcome.projection ? &*run.outcome.projection : nullptr) {
        p->front = std::ldexp(p->front, -exponent);
        p->rear = std::ldexp(p->rear, -exponent);
    }
    return std::move(run.outcome);
}

}  // namespace dunsmere

// dunsmere: the standalone host's command line.
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "app/command/command.h"
#include "app/command/info.h"
#include "app/command/options.h"
#include "app/command/signals.h"

using namespace dunsmere;

namespace {

// The options a bake and info share, which may stand before "info" as well
// as after it; those that take a value, and whether each does.
struct GlobalOption {
    const char* name;
    bool takesValue;
};
constexpr GlobalOption kGlobalOptions[] = {
    {"-q", false}, {"--quiet", false}, {"--json", false}, {"--config-dir", true}, {"--plugins", true}};

// Where "info" stands when the line asks for it: first after nothing but
// the shared options. 0 when the line is a bake.
int InfoAt(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "info") return i;
        const GlobalOption* global = nullptr;
        for (const GlobalOption& g : kGlobalOptions)
            if (arg == g.name || (g.takesValue && arg.substr(0, std::strlen(g.name) + 1) == std::string(g.name) + "="))
                global = &g;
        if (!global) return 0;
        if (global->takesValue && arg.find('=') == std::string_view::npos) ++i;
    }
    return 0;
}

// Info with the shared options given before it moved after it.
int RunInfoAt(int at, int argc, const char* const* argv)
{
    std::vector<const char*> args{argv[0], argv[at]};
    for (int i = 1; i < argc; ++i)
        if (i != at) args.push_back(argv[i]);
    return RunInfo(static_cast<int>(args.size()), args.data());
}

// What was printed on stdout must have reached it: a full disk is a failure
// (the outputs are in place by now). A closed pipe has ended the process by
// SIGPIPE already, as `| head` expects.
int FlushedStdout(int status)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    std::fprintf(stderr, "dunsmere: cannot write to standard output: %s\n", std::strerror(errno));
    return status == kExitDone ? kExitFailed : status;
}

}  // namespace

int main(int argc, char** argv)
{
    int status = kExitFailed;
    try {
        if (const int at = InfoAt(argc, argv)) return FlushedStdout(RunInfoAt(at, argc, argv));
        ParseResult parsed = ParseCommandLine(argc, argv);
        // The plug-in is asked for its ranges only when they matter: before
        // any mesh is read, so that a number out of range costs no load.
        if (parsed.help || parsed.ranged) parsed = ParseCommandLine(argc, argv, PanelSpinners());
        std::fputs(parsed.out.c_str(), stdout);
        std::fputs(parsed.err.c_str(), stderr);
        if (!parsed.options) return FlushedStdout(parsed.exitStatus);
        status = RunCommand(*parsed.options);
    } catch (const std::bad_alloc&) {
        std::fputs("dunsmere: out of memory\n", stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dunsmere: %s\n", e.what());
    }
    // A cancelled run has cleaned up by now; it ends by its signal so that
    // a shell loop around it stops.
    if (const int signal = CancelSignal()) {
        std::fflush(stdout);
        EndBySignal(signal);
    }
    return FlushedStdout(status);
}

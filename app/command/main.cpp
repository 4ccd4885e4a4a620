// dunsmere: the standalone host's command line.
#include <cstdio>
#include <cstring>
#include <new>

#include "app/command/command.h"
#include "app/command/info.h"
#include "app/command/options.h"
#include "app/command/signals.h"

int main(int argc, char** argv)
{
    int status = kExitFailed;
    try {
        if (argc > 1 && std::strcmp(argv[1], "info") == 0) return RunInfo(argc, argv);
        const ParseResult parsed = ParseCommandLine(argc, argv);
        std::fputs(parsed.out.c_str(), stdout);
        std::fputs(parsed.err.c_str(), stderr);
        if (!parsed.options) return parsed.exitStatus;
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
    return status;
}

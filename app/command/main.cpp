// dunsmere: the standalone host's command line.
#include <cstdio>

#include "app/command/command.h"
#include "app/command/options.h"

int main(int argc, char** argv)
{
    const ParseResult parsed = ParseCommandLine(argc, argv);
    std::fputs(parsed.out.c_str(), stdout);
    std::fputs(parsed.err.c_str(), stderr);
    if (!parsed.options) return parsed.exitStatus;
    try {
        return RunCommand(*parsed.options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dunsmere: %s\n", e.what());
        return kExitFailed;
    }
}

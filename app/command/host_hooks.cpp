#include "app/command/host_hooks.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "app/command/signals.h"

namespace dunsmere {

namespace {

bool Answer(const std::string& shown, std::optional<bool> savePartial)
{
    bool yes = savePartial.value_or(false);
    if (!savePartial && isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "%s [y/N] ", shown.c_str());
        std::fflush(stderr);
        std::string answer;
        if (std::getline(std::cin, answer)) yes = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
    } else {
        std::fprintf(stderr, "%s %s\n", shown.c_str(), yes ? "Yes" : "No");
    }
    std::fflush(stderr);
    return yes;
}

}  // namespace

HostHooks CommandHooks(ProgressBar& bar, bool quiet, std::optional<bool> savePartial)
{
    HostHooks hooks;
    hooks.progress = &bar;
    hooks.cancelled = [] { return CancelSignal() != 0; };
    hooks.message = [quiet, savePartial](const std::string& shown, MessageKind kind) {
        if (kind == MessageKind::kQuestion) return Answer(shown, savePartial);
        if (kind == MessageKind::kRefusal || !quiet) std::fprintf(stderr, "%s\n", shown.c_str());
        std::fflush(stderr);
        return false;
    };
    return hooks;
}

}  // namespace dunsmere

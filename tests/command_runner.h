// Runs the dunsmere command as a child process and collects what it says.
// A callback sees stderr line by line as it arrives, so that a test can
// signal the child at a known point of the run instead of after a delay.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace dunsmere {

struct CommandResult {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    int signal = 0;   // the signal that ended it, 0 when it exited
    std::string out, err;
};

inline CommandResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::function<void(pid_t, const std::string&)>& onErrLine = {})
{
    int outPipe[2], errPipe[2];
    CommandResult r;
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return r;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return r;
    }
    std::string pending;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buf[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (pollfd& p : fds) {
            if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP))) continue;
            const ssize_t n = read(p.fd, buf, sizeof buf);
            if (n <= 0) {
                close(p.fd);
                p.fd = -1;
                --open;
                continue;
            }
            if (p.fd == outPipe[0]) {
                r.out.append(buf, static_cast<size_t>(n));
            } else {
                r.err.append(buf, static_cast<size_t>(n));
                pending.append(buf, static_cast<size_t>(n));
                for (size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1))
                    if (onErrLine) onErrLine(pid, pending.substr(0, nl));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return r;
}

}  // namespace dunsmere

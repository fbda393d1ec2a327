// Runs the built host program as a child process on a clean simulated
// machine, for tests that check what a user would see.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace hwtest {

struct Result {
    std::string out;
    std::string err;
    int status = -1;
};

// In the forked child: a clean simulated machine plus `env`, then the program.
[[noreturn]] inline void ExecProgram(const std::vector<std::string>& args, const std::vector<std::string>& env,
                                     const char* program = HWPURGE_PROGRAM)
{
    unsetenv("HWPURGE_ACP");
    unsetenv("HWPURGE_SIM_FAULTS");
    unsetenv("HWPURGE_DEVICE_DB");
    for (const std::string& e : env) {
        putenv(const_cast<char*>(e.c_str()));
    }
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    execv(program, argv.data());
    _exit(127);
}

// Runs the host program (hwpurge unless `program` names another) with `args`
// and extra environment `env` ("NAME=value").
inline Result RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                         const char* program = HWPURGE_PROGRAM)
{
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        close(out[1]);
        close(err[1]);
        ExecProgram(args, env, program);
    }
    close(out[1]);
    close(err[1]);
    Result result;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0 && poll(fds, 2, 10000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                char buffer[4096];
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    sinks[i]->append(buffer, static_cast<size_t>(n));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// Runs the program with both streams on one descriptor: a pipe, or the
// terminal side of a pseudo-terminal. Returns what arrived, in order.
inline std::string RunMerged(bool terminal, const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    int readEnd = -1;
    int writeEnd = -1;
    if (terminal) {
        readEnd = posix_openpt(O_RDWR | O_NOCTTY);
        if (readEnd < 0 || grantpt(readEnd) != 0 || unlockpt(readEnd) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return {};
        }
        writeEnd = open(ptsname(readEnd), O_RDWR | O_NOCTTY);
    } else {
        int fds[2];
        if (pipe(fds) != 0) {
            ADD_FAILURE() << "pipe";
            return {};
        }
        readEnd = fds[0];
        writeEnd = fds[1];
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(writeEnd, 1);
        dup2(writeEnd, 2);
        ExecProgram(args, env);
    }
    close(writeEnd);
    std::string text;
    char buffer[4096];
    ssize_t n;
    // A pseudo-terminal answers EIO once the child has gone.
    while ((n = read(readEnd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    close(readEnd);
    waitpid(child, nullptr, 0);
    return text;
}

}  // namespace hwtest

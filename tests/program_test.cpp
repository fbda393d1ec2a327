// The built host program, run as a child process: exact bytes on both
// streams and the exit status.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Result {
    std::string out;
    std::string err;
    int status = -1;
};

// In the forked child: a clean simulated machine plus `env`, then the program.
[[noreturn]] void ExecProgram(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    unsetenv("HWPURGE_ACP");
    unsetenv("HWPURGE_SIM_FAULTS");
    unsetenv("HWPURGE_DEVICE_DB");
    for (const std::string& e : env) {
        putenv(const_cast<char*>(e.c_str()));
    }
    std::vector<char*> argv{const_cast<char*>(HWPURGE_PROGRAM)};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    execv(HWPURGE_PROGRAM, argv.data());
    _exit(127);
}

// Runs the host program with `args` and extra environment `env` ("NAME=value").
Result RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
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
        ExecProgram(args, env);
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

const std::string kBanner =
    "**************************************************\n"
    "*                                                *\n"
    "*  KIVO 4100, KIVO 720 Driver UnInstall Program. *\n"
    "*                                                *\n"
    "*           Please Wait For Completion.          *\n"
    "*                                                *\n"
    "**************************************************\n";

const std::string kUsage = "usage: hwpurge <Hardware_ID> \n";

struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string out;
    std::string err;
    int status;
};

TEST(Program, ArgumentsOutputAndExitStatus)
{
    const Case cases[] = {
        {"no argument", {}, {}, kUsage, "", 2},
        {"two arguments", {"USB\\VID_1A2B&PID_4100", "x"}, {}, kUsage, "", 2},
        {"three arguments", {"a", "b", "c"}, {}, kUsage, "", 2},
        {"empty argument", {""}, {}, "", "hwpurge: the hardware ID is empty; nothing was removed\n", 2},
        {"matches nothing", {"PCI\\VEN_10DE"}, {}, kBanner, "", 0},
        {"removes the KIVO 4100 nodes",
         {"usb\\vid_1a2b&pid_4100"},
         {},
         kBanner + " Removed: KIVO Device with ID [USB\\VID_1A2B&PID_4100&REV_0200] \n" +
             " Removed: KIVO Device with ID [usb\\vid_1a2b&pid_4100&mi_01] \n" +
             " Removed: KIVO Device with ID [USB\\VID_1A2B&PID_4100&REV_0200&MI_00] \n",
         "",
         0},
        {"removes the KIVO 720",
         {"USB\\VID_1A2B&PID_0720"},
         {},
         kBanner + " Removed: KIVO Device with ID [USB\\VID_1A2B&PID_0720&REV_0110] \n",
         "",
         0},
        {"argument passed on unchanged, spaces and all", {" USB\\VID_1A2B"}, {}, kBanner, "", 0},
        {"set cannot be opened",
         {"USB"},
         {"HWPURGE_SIM_FAULTS=open=5"},
         kBanner,
         "hwpurge: GetClassDevs(All Present / not Present Devices) failed with error 5: Access is denied.\n",
         0},
        {"every removal refused",
         {"USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=remove=5"},
         kBanner + " Removed: KIVO Device with ID [USB\\VID_1A2B&PID_0720&REV_0110] \n",
         "hwpurge: CallClassInstaller(REMOVE) failed with error 5: Access is denied.\n",
         0},
        {"double-byte system code page",
         {"ROOT\\BASICDISPLAY"},
         {"HWPURGE_ACP=932"},
         kBanner + " Removed: KIVO Device with ID [ROOT\\BASICDISPLAY] \n",
         "",
         0},
    };
    for (const Case& c : cases) {
        const Result r = RunProgram(c.args, c.env);
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
    }
}

// Runs the program with both streams on one descriptor: a pipe, or the
// terminal side of a pseudo-terminal. Returns what arrived, in order.
std::string RunMerged(bool terminal, const std::vector<std::string>& args, const std::vector<std::string>& env)
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

TEST(Program, OutputToAPipeIsHeldUntilExitButATerminalSeesEachLineAtOnce)
{
    const std::vector<std::string> args{"USB\\VID_1A2B&PID_0720"};
    const std::vector<std::string> env{"HWPURGE_SIM_FAULTS=remove=5"};
    const std::string report = "hwpurge: CallClassInstaller(REMOVE) failed with error 5: Access is denied.";
    const std::string removed = " Removed: KIVO Device with ID [USB\\VID_1A2B&PID_0720&REV_0110] ";

    // Redirected, the report (unbuffered) overtakes the buffered lines.
    const std::string piped = RunMerged(false, args, env);
    EXPECT_EQ(piped, report + "\n" + kBanner + removed + "\n");

    // On a terminal the banner and removal line are out before the report.
    std::string onTerminal = RunMerged(true, args, env);
    std::string expected = kBanner + removed + "\n" + report + "\n";
    // The terminal turns each newline into CR LF.
    std::string translated;
    for (char c : expected) {
        if (c == '\n') {
            translated += '\r';
        }
        translated += c;
    }
    EXPECT_EQ(onTerminal, translated);
}

}  // namespace

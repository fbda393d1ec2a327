// What runs at the start of hwpurge's programs, checked from outside.
//
//   start_check planted <marker.dll> <hwpurge.exe> <hwpurge-preview.exe> [<name>...]
//     Plants the marker DLL as <name>.dll, for every name given (by default
//     those of tests/wine/planted/CMakeLists.txt), beside copies of the
//     programs and in their current directory, and runs them (usage, and a
//     real run against a node under the run's own prefix; see
//     tests/windows/test_nodes.h): no stand-in may be loaded. Under Wine,
//     WINEDLLOVERRIDES must make the names native first (Wine reads it from
//     the Unix environment alone); Windows searches the program's folder
//     first anyway.
//   start_check start <guard_probe.exe> <marker.dll>
//     In a program started as hwpurge's are, the stack guard is seeded anew
//     in every process, an overflow of a stack buffer ends the process with
//     STATUS_STACK_BUFFER_OVERRUN, and LoadLibrary finds no DLL lying only
//     beside the program or only in its current directory, another folder.
//
// What only Wine does is marked as Wine's, in the manner of Wine's todo_wine:
// the check states what Windows must do, and expects Wine's own answer only
// when it runs on Wine.
#include "tests/windows/run_capture.h"
#include "tests/windows/test_nodes.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

void Check(bool ok, const std::string& what)
{
    if (!ok) {
        ++g_failures;
        printf("FAIL: %s\n", what.c_str());
    }
}

// Runs `program` with `arguments` in the working directory `folder`; its
// output is captured in `scratch`.
checkrun::Run RunIn(const std::string& program, const std::string& arguments, const std::string& folder,
                    const std::string& scratch)
{
    const checkrun::Run run = checkrun::RunCaptured(program, "\"" + program + "\" " + arguments, scratch, folder);
    Check(run.started, run.why);
    Check(!run.timedOut, program + " " + arguments + " did not end within a minute");
    return run;
}

std::string NewFolder(const std::string& path)
{
    Check(CreateDirectoryA(path.c_str(), nullptr) != FALSE || GetLastError() == ERROR_ALREADY_EXISTS,
          "cannot create " + path);
    return path;
}

std::string WorkFolder(const char* what)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return NewFolder(std::string(temp) + "hwpurge-" + what + "-" + std::to_string(GetCurrentProcessId()));
}

// Removes `folder`, its files and its folders' files.
void RemoveFolder(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveFolder(folder + "\\" + name);
            } else {
                DeleteFileA((folder + "\\" + name).c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ---------------------------------------------------------------------------
// Planted DLLs

// Wine loads a version.dll beside the program as a static import of its own
// SetupAPI, before the program runs; Windows takes a KnownDLL's imports from
// System32. This stand-in's line, alone, is Wine's.
const char kWineOnly[] = "version.dll";

// The stand-ins loaded since the last call, as "<dll> <where>", and the logs
// emptied for the next run.
std::vector<std::string> TakeLoads(const std::string& folder, const char* where)
{
    std::vector<std::string> loads;
    const std::string log = folder + "\\planted.log";
    FILE* file = fopen(log.c_str(), "rb");
    if (file == nullptr) {
        return loads;
    }
    char line[2 * MAX_PATH + 8];
    while (fgets(line, sizeof line, file) != nullptr) {
        const std::string text(line);
        loads.push_back(BaseName(text.substr(0, text.find('|'))) + " " + where);
    }
    fclose(file);
    DeleteFileA(log.c_str());
    return loads;
}

// The names to plant when none are given: the one list, in
// tests/wine/planted/CMakeLists.txt, which also makes them native first for
// Wine.
std::vector<std::string> BuiltInNames()
{
    std::vector<std::string> names;
    const std::string list = HWPURGE_PLANTED_NAMES;
    size_t at = 0;
    for (size_t comma = list.find(','); comma != std::string::npos; comma = list.find(',', at)) {
        names.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    names.push_back(list.substr(at));
    return names;
}

int CheckPlanted(const std::string& marker, const std::string& hwpurge, const std::string& preview,
                 const std::vector<std::string>& names)
{
    if (!testnodes::Begin("start_check")) {
        return 1;
    }
    const bool wine = testnodes::OnWine();
    const std::string work = WorkFolder("planted");
    const std::string beside = NewFolder(work + "\\program");
    const std::string current = NewFolder(work + "\\current");
    std::string planted;
    for (const std::string& name : names) {
        planted += " " + name + ".dll";
    }
    printf("note: the marker is planted as%s\n", planted.c_str());
    for (const std::string& name : names) {
        for (const std::string& folder : {beside, current}) {
            const std::string copy = folder + "\\" + name + ".dll";
            Check(CopyFileA(marker.c_str(), copy.c_str(), FALSE) != FALSE, "cannot copy the marker to " + copy);
        }
    }

    std::string programs[2];
    const std::string* sources[2] = {&hwpurge, &preview};
    for (int i = 0; i < 2; ++i) {
        programs[i] = beside + "\\" + BaseName(*sources[i]);
        Check(CopyFileA(sources[i]->c_str(), programs[i].c_str(), FALSE) != FALSE, "cannot copy " + *sources[i]);
    }
    // A node under the run's own prefix, for a real run to list and remove.
    const std::string identifier = testnodes::IdPrefix() + "PLANTED\\MARKER";
    std::string why;
    const std::string node = testnodes::MakeNode(testnodes::kSystemClass, "PLANTED", testnodes::Property::kNarrow,
                                                 identifier + '\0' + '\0', &why);
    Check(!node.empty(), why);

    struct Case {
        const std::string& program;
        std::string arguments;
        DWORD status;
    };
    const Case cases[] = {
        {programs[0], "", 2},          // usage
        {programs[1], "", 2},          // usage
        {programs[1], identifier, 1},  // lists the node
        {programs[0], identifier, 0},  // removes it
        {programs[1], identifier, 0},  // and it is gone
    };
    for (const Case& c : cases) {
        const std::string what = BaseName(c.program) + (c.arguments.empty() ? "" : " " + c.arguments);
        const checkrun::Run run = RunIn(c.program, c.arguments, current, work);
        Check(run.exitCode == c.status, what + ": exit status " + std::to_string(run.exitCode) + ", expected " +
                                            std::to_string(c.status) + "; it wrote:\n" + run.out + run.err);
        std::vector<std::string> loads = TakeLoads(beside, "beside the program");
        const std::vector<std::string> inCurrent = TakeLoads(current, "in the current directory");
        loads.insert(loads.end(), inCurrent.begin(), inCurrent.end());
        bool wineLoaded = false;
        for (const std::string& load : loads) {
            if (wine && load == std::string(kWineOnly) + " beside the program") {
                wineLoaded = true;
                printf("%s: todo_wine: Wine loaded the planted %s\n", what.c_str(), load.c_str());
            } else {
                Check(false, what + ": loaded the planted " + load);
            }
        }
        Check(!wine || wineLoaded, what + ": Wine did not load the planted " + kWineOnly +
                                       " beside the program, as it does as a static import of its SetupAPI: "
                                       "either the stand-ins were never searched for, or Wine now behaves as "
                                       "Windows (then drop this todo_wine)");
    }
    RemoveFolder(work);
    g_failures += testnodes::End("start_check") ? 0 : 1;
    return g_failures == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------
// The entry point

int CheckStart(const std::string& probeSource, const std::string& marker)
{
    const std::string work = WorkFolder("start");
    const std::string beside = NewFolder(work + "\\program");
    const std::string current = NewFolder(work + "\\current");
    const std::string probe = beside + "\\" + BaseName(probeSource);
    Check(CopyFileA(probeSource.c_str(), probe.c_str(), FALSE) != FALSE, "cannot copy " + probeSource);

    const checkrun::Run first = RunIn(probe, "guard", current, work);
    const checkrun::Run second = RunIn(probe, "guard", current, work);
    Check(first.exitCode == 0 && second.exitCode == 0, "the probe did not print its guard");
    // The value the guard holds until the entry point seeds it.
    Check(first.out.find("2b992ddfa232") == std::string::npos, "the guard was never seeded: " + first.out);
    Check(!first.out.empty() && first.out != second.out,
          "two processes share the stack guard " + first.out + " (not seeded per process)");

    Check(RunIn(probe, "overflow 1234567", current, work).exitCode == 0, "the probe fails without an overflow");
    const checkrun::Run smashed = RunIn(probe, "overflow 0123456789abcdef0123456789abcdef", current, work);
    Check(smashed.exitCode == STATUS_STACK_BUFFER_OVERRUN,
          "an overflow of a stack buffer ended with status " + std::to_string(smashed.exitCode) + ", not " +
              std::to_string(STATUS_STACK_BUFFER_OVERRUN) + " (STATUS_STACK_BUFFER_OVERRUN)");

    // By the time the program's code runs, a DLL is looked for in System32
    // alone: one only beside the program, or only in the current directory
    // (which is not the program's folder), is not found.
    const std::string places[][3] = {{beside, "beside the program", "hwpurge-beside.dll"},
                                     {current, "in the current directory", "hwpurge-current.dll"}};
    for (const auto& place : places) {
        const std::string& name = place[2];
        const std::string planted = place[0] + "\\" + name;
        Check(CopyFileA(marker.c_str(), planted.c_str(), FALSE) != FALSE, "cannot copy the marker to " + planted);
        Check(RunIn(probe, "load " + name, current, work).exitCode == 0,
              "LoadLibrary found " + name + " " + place[1] + ": the DLL search is not narrowed to System32");
        for (const std::string& load : TakeLoads(place[0], place[1].c_str())) {
            Check(false, "the probe loaded the planted " + load);
        }
    }
    RemoveFolder(work);
    return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "planted" && argc >= 5) {
        const std::vector<std::string> names(argv + 5, argv + argc);
        return CheckPlanted(argv[2], argv[3], argv[4], names.empty() ? BuiltInNames() : names);
    }
    if (what == "start" && argc == 4) {
        return CheckStart(argv[2], argv[3]);
    }
    printf(
        "usage: start_check planted <marker.dll> <hwpurge.exe> <hwpurge-preview.exe> [<name>...]\n"
        "       start_check start <guard_probe.exe> <marker.dll>\n");
    return 2;
}

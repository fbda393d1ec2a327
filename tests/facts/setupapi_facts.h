// What hwpurge relies on from SetupAPI and kernel32, written once as facts
// and run on two platforms: the simulated Windows of the host build and
// Wine's own SetupAPI. Each fact sets the last error to a sentinel before a
// call and then checks the result, the last error and the sizes, so that a
// call that leaves the error alone is told apart from one that sets it.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// SetupAPI's header needs the base types from <windows.h> first.
#include <setupapi.h>
// The configuration manager: whether a node is in the device tree.
#include <cfgmgr32.h>
#else
#include "platform/host/simulated_windows.h"
#endif

#include <cstddef>
#include <string>
#include <vector>

namespace facts {

// What each platform runner provides.

// One node to make: its hardware-ID property as REG_MULTI_SZ bytes (each
// entry with its NUL, then the closing NUL), or none at all.
struct NodeToMake {
    bool hasHardwareIds;
    std::string hardwareIds;
    // Nodes made by one call with the same number (not 0) are instances of
    // one device ID, Enum\<enumerator>\<device ID>\<instance>; with 0 a node
    // has a device ID of its own.
    unsigned deviceId = 0;
};

// The setup class of every node made, as the system names it.
const char kNodeClassGuid[] = "{4d36e97d-e325-11ce-bfc1-08002be10318}";
const char kNodeClassName[] = "System";

// Makes the nodes, never started, and answers their device instance IDs;
// false after reporting why when it cannot.
bool MakeNodes(const std::vector<NodeToMake>& nodesToMake, std::vector<std::string>* instanceIds);
// Whether the registry holds HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\<path>.
bool EnumKeyExists(const std::string& path);
// Whether the platform is Wine, whose answers differ from Windows' in places.
bool OnWine();
// Records one check that failed, at `file`:`line`.
void ReportFailure(const char* file, int line, const std::string& message);
// Says that nodes the facts did not touch came or went between two sets. A
// real Windows machine's own devices may; a simulated or Wine's may not.
void NoteMachineChange(const std::string& message);

// The facts.
struct Fact {
    const char* name;
    void (*run)();
};
extern const Fact kFacts[];
extern const size_t kFactCount;

}  // namespace facts

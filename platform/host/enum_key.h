// The Enum key of a registry export read as the machine's device nodes: a
// node is a key Enum\<enumerator>\<device>\<instance>; it is present when it
// has a Control subkey; its HardwareID and ClassGUID values are taken; and
// it owns the lines of its key and subkeys, and its device key
// Enum\<enumerator>\<device> its own, so that both can later be dropped from
// the file with every other byte left where it was. The driver keys under
// Control\Class, where a machine's export holds them too, are taken with
// their values: a node's Driver value names its key there.
//
// The export is the text that `reg export HKLM\SYSTEM\CurrentControlSet\Enum`
// (or of the whole CurrentControlSet) or regedit writes ("Windows Registry Editor Version 5.00" in UTF-16LE or
// UTF-8, or "REGEDIT4" in the ANSI code page).
#pragma once

#include <string>
#include <vector>

#include "platform/host/node.h"
#include "platform/host/windows_names.h"

namespace hwsim {

struct DeviceDatabase {
    std::vector<Node> nodes;  // in the order the file first names them
    ExportLayout layout;      // where they lie in the file
    DriverKeys driverKeys;    // the keys under Control\Class\{guid}\NNNN the file holds
};

// Reads an export held in `bytes`. Strings are converted to `codePage` the
// way the system's `A` calls convert them ('?' for a character the code page
// lacks). On failure returns false, leaves *out empty and sets *error to
// "line N: what is wrong". Safe on any input.
bool ParseRegistryExport(const std::string& bytes, UINT codePage, DeviceDatabase* out, std::string* error);

}  // namespace hwsim

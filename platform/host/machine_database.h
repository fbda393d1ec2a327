// Where the simulated machine's device database comes from, and where its
// removals go: a registry export file, read in the ANSI code page and
// rewritten once a set is closed after a removal, or the built-in sample.
#pragma once

#include <string>
#include <vector>

#include "platform/host/enum_key.h"
#include "platform/host/node.h"

namespace hwsim {

// Takes the device database from a registry export file, read in the current
// ANSI code page. A file that cannot be read or parsed leaves the database
// empty and makes every opening of a set fail, after one line on standard
// error. Once a set is destroyed after a removal, the file is rewritten
// without the removed nodes.
void UseDatabaseFile(const std::string& path);

// Rewrites the database file without the nodes removed since it was read or
// last written; one line on standard error when that fails. Nothing happens
// when nothing was removed or the database has no file.
void SaveRemovals();

// The built-in sample machine the host program runs on, and the registry
// export it is read from.
std::vector<Node> SampleDatabase();
// The sample's nodes and driver keys.
DeviceDatabase SampleMachine();
std::string SampleExport();

}  // namespace hwsim

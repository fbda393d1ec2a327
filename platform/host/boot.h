// Starting the simulated machine. Every Windows function of the simulation
// refuses to run before one of these.
#pragma once

namespace hwsim {

// For tests: an empty machine with nothing scripted: no nodes, no faults,
// no calls recorded, heap and set counters cleared, ANSI code page 1252.
void Reset();

// For the host program's process start: a clean machine read from the
// environment: HWPURGE_ACP, HWPURGE_SIM_FAULTS and the device database, from
// the registry export HWPURGE_DEVICE_DB names or else the built-in sample.
void Boot();

}  // namespace hwsim

// The device nodes the Windows check programs make for themselves, on Wine
// and on a real Windows machine alike: made through the public SetupAPI
// only, root-enumerated under names no real device has, and removed again on
// every way out of the program, including Ctrl+C and a crash. A run also
// removes, at its start, whatever an earlier run that died left behind.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// SetupAPI's header needs the base types from <windows.h> first.
#include <setupapi.h>

#include <string>

namespace testnodes {

// Every hardware ID the checks give a node, and every identifier they hand
// to a program, begins with kIdPrefix and the run's token (IdPrefix()), so
// that on a real machine nothing but the run's own nodes can match.
extern const char kIdPrefix[];
// Every node's instance ID begins with this (any run's token follows).
extern const char kInstancePrefix[];
// Whether `instanceId` names a node of a check run, this one's or another's.
bool IsCheckNode(const char* instanceId);

// A setup class no Windows installs: nodes of it have no class installer,
// no class name, and are removed by SetupAPI's own default handler.
extern const GUID kCheckClass;
// Setup classes every Windows installs, for nodes of a known class.
extern const GUID kSystemClass;
extern const GUID kPortsClass;
extern const GUID kHidClass;
extern const GUID kUsbClass;

// Says in one line why not and answers false when the program cannot run:
// without administrator rights, or when an earlier run's nodes cannot be
// removed. Otherwise removes those nodes (saying how many there were), and
// makes Ctrl+C, Ctrl+Break, closing the console and a crash remove this
// run's nodes before the process ends.
bool Begin(const char* program);
// Removes every node under kInstancePrefix; false after saying why when one
// is left. Call on the way out.
bool End(const char* program);

// "HWPURGE-TEST\<token>\": the run's prefix of hardware IDs and identifiers.
const std::string& IdPrefix();

enum class Property {
    kNone,       // no hardware-ID property at all
    kNarrow,     // `bytes` written through SetupDiSetDeviceRegistryPropertyA
    kWide,       // `bytes` (UTF-16) written through SetupDiSetDeviceRegistryPropertyW
    kZeroBytes,  // a write of zero bytes (see MakeNode)
};

// What a node shows beyond its hardware IDs, as an installed device's would:
// its name and manufacturer, and a driver key under its class's key naming
// a driver package. A null field is left out; with no `inf` the node has no
// driver key (a class Windows does not install has no key to hold one).
// Windows documents SPDRP_MFG as its own, not to be set through SetupAPI:
// give a manufacturer on Wine only.
struct Details {
    const char* friendlyName;
    const char* description;
    const char* manufacturer;
    const char* inf;  // the driver key's InfPath
    const char* provider;
    const char* version;
    const char* date;
};

// Makes a registered, never-installed node ROOT\HWPURGE-TEST_<token>_<name>\NNNN
// of `setupClass` with the hardware-ID property `bytes` (the REG_MULTI_SZ body
// with its closing NUL). Answers its instance ID, or "" with *why set.
// A zero-byte write keeps a zero-byte property on Wine; Windows documents it
// as clearing the property, so there the new node ends with none, whatever
// the call answers.
std::string MakeNode(const GUID& setupClass, const std::string& name, Property kind, const std::string& bytes,
                     std::string* why, const Details* details = nullptr);

// Removes the node `instanceId` through SetupAPI's default handler, without
// asking its class installer; false with *why set when it stays.
bool RemoveNode(const std::string& instanceId, std::string* why);

// Whether this is Wine, whose answers differ from Windows' in places.
bool OnWine();

}  // namespace testnodes

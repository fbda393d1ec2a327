#include "platform/host/enum_key.h"

#include <cstring>
#include <unordered_map>

#include "platform/host/code_pages.h"
#include "platform/host/reg_syntax.h"
#include "platform/host/reg_text.h"

namespace hwsim {
namespace {

const size_t kNone = static_cast<size_t>(-1);

// What reading the entries has come to so far.
struct EnumReading {
    const ExportText* text = nullptr;
    UINT codePage = 0;
    bool version5 = false;
    bool unicode = false;
    DeviceDatabase* out = nullptr;
    Failure* failure = nullptr;
    size_t owner = kNone;                             // the node whose key or subkey is being read
    size_t deviceOwner = kNone;                       // the device key being read
    DriverKey* driverKey = nullptr;                   // the driver key being read
    std::vector<ByteRange>* driverLines = nullptr;    // ...and where its lines lie
    bool nodeKey = false;                             // the key is the node's own, not a subkey
    bool afterComment = false;                        // no key or value line since the last comment
    std::unordered_map<std::string, size_t> index;    // folded instance ID -> node
    std::unordered_map<std::string, size_t> devices;  // folded device key path -> device
};

bool Fail(EnumReading* r, const Entry& entry, const std::string& problem)
{
    r->failure->line = entry.lastLine + 1;
    r->failure->problem = problem;
    return false;
}

// Gives the entry's lines to the node or device key being read, if any.
void Claim(EnumReading* r, const Entry& entry)
{
    ExportLayout& layout = r->out->layout;
    if (r->owner == kNone && r->deviceOwner == kNone && r->driverLines == nullptr) {
        return;
    }
    std::vector<ByteRange>& ranges = r->owner != kNone         ? layout.lines[r->owner]
                                     : r->deviceOwner != kNone ? layout.deviceLines[r->deviceOwner]
                                                               : *r->driverLines;
    for (size_t i = entry.firstLine; i <= entry.lastLine; ++i) {
        const Line& line = r->text->lines[i];
        if (!ranges.empty() && ranges.back().end == line.begin) {
            ranges.back().end = line.end;
        } else {
            ranges.push_back({line.begin, line.end});
        }
    }
}

std::string ToAnsi(const EnumReading& r, const std::string& text)
{
    return r.unicode ? WideToAnsi(Utf8ToUtf16(text), r.codePage) : text;
}

std::string Folded(std::string text)
{
    for (char& c : text) {
        c = FoldAscii(c);
    }
    return text;
}

// The device key <enumerator>\<device>, known from now on.
size_t DeviceKey(EnumReading* r, const std::string& enumerator, const std::string& device)
{
    const auto inserted = r->devices.emplace(Folded(enumerator + '\\' + device), r->devices.size());
    if (inserted.second) {
        r->out->layout.deviceLines.emplace_back();
    }
    return inserted.first->second;
}

// The node or device key a key belongs to, if it is a device key, a node's key
// or one of its subkeys:
// HKEY_LOCAL_MACHINE\SYSTEM\<control set>\Enum\<enumerator>\<device>[\<instance>[\...]]
void TakeKey(EnumReading* r, const Entry& entry)
{
    const std::vector<std::string>& path = entry.keyPath;
    r->owner = kNone;
    r->deviceOwner = kNone;
    r->driverKey = nullptr;
    r->driverLines = nullptr;
    r->nodeKey = false;
    const bool underControlSet = path.size() >= 4 &&
                                 (SameName(path[0], "HKEY_LOCAL_MACHINE") || SameName(path[0], "HKLM")) &&
                                 SameName(path[1], "SYSTEM");
    // HKEY_LOCAL_MACHINE\SYSTEM\<control set>\Control\Class\{guid}\NNNN[\...]:
    // a driver key's values, and its lines with its subkeys', which go with it.
    if (underControlSet && path.size() >= 7 && SameName(path[3], "Control") && SameName(path[4], "Class")) {
        const std::string name = FoldedName(ToAnsi(*r, path[5] + '\\' + path[6]));
        if (path.size() == 7) {
            r->driverKey = &r->out->driverKeys[name];
        }
        r->driverLines = &r->out->layout.driverKeyLines[name];
        Claim(r, entry);
        return;
    }
    const bool underEnum = path.size() >= 6 && (SameName(path[0], "HKEY_LOCAL_MACHINE") || SameName(path[0], "HKLM")) &&
                           SameName(path[1], "SYSTEM") && SameName(path[3], "Enum");
    if (!underEnum) {
        return;
    }
    if (path.size() == 6) {
        r->deviceOwner = DeviceKey(r, path[4], path[5]);
        Claim(r, entry);
        return;
    }
    const std::string instanceId = path[4] + '\\' + path[5] + '\\' + path[6];
    const std::string folded = Folded(instanceId);
    const auto found = r->index.find(folded);
    if (found != r->index.end()) {
        r->owner = found->second;
    } else {
        r->owner = r->out->nodes.size();
        r->index.emplace(folded, r->owner);
        Node node;
        node.instanceId = ToAnsi(*r, instanceId);
        r->out->nodes.push_back(node);
        r->out->layout.lines.emplace_back();
        r->out->layout.deviceOf.push_back(DeviceKey(r, path[4], path[5]));
    }
    r->nodeKey = path.size() == 7;
    // Windows keeps a started device's volatile Control key while the
    // device is there.
    if (path.size() == 8 && SameName(path[7], "Control")) {
        r->out->nodes[r->owner].present = true;
    }
    Claim(r, entry);
}

// Text in hex(1), hex(2) or hex(7) form: UTF-16LE in version 5 files, narrow
// bytes in REGEDIT4 files.
bool StringBytes(EnumReading* r, const Entry& entry, std::string* out)
{
    const ValueData& data = entry.data;
    if (!r->version5) {
        *out = data.bytes;
        return true;
    }
    if (data.bytes.size() % 2 != 0) {
        return Fail(r, entry, "a UTF-16 string value with an odd number of bytes");
    }
    *out = WideToAnsi(Utf16LeBytes(data.bytes), r->codePage);
    return true;
}

// A text value (ClassGUID, Class) as the node keeps it: up to its first NUL.
bool TakeText(EnumReading* r, const Entry& entry, bool stringType, std::string* text)
{
    const ValueData& data = entry.data;
    text->clear();
    if (data.isString) {
        *text = ToAnsi(*r, data.text);
    } else if (stringType && !StringBytes(r, entry, text)) {
        return false;
    }
    text->resize(strnlen(text->c_str(), text->size()));
    return true;
}

// What SetupAPI gives for a text property: an indirect string
// "@file,%key%;text" is resolved to its text, as Windows does for the
// DeviceDesc and Mfg values that INF files write.
bool TakeShownText(EnumReading* r, const Entry& entry, bool stringType, std::string* text)
{
    if (!TakeText(r, entry, stringType, text)) {
        return false;
    }
    const size_t semicolon = text->find(';');
    if (!text->empty() && (*text)[0] == '@' && semicolon != std::string::npos) {
        text->erase(0, semicolon + 1);
    }
    return true;
}

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Takes a value of a driver key, as RegQueryValueExA gives it.
bool TakeDriverValue(EnumReading* r, const Entry& entry)
{
    const ValueData& data = entry.data;
    const std::string name = FoldedName(entry.valueName);
    if (data.remove) {
        r->driverKey->values.erase(name);
        return true;
    }
    RegValue value;
    value.type = data.isString ? static_cast<DWORD>(REG_SZ) : data.type;
    if (data.isString) {
        value.data = ToAnsi(*r, data.text) + '\0';
    } else if (IsStringType(data.type)) {
        if (!StringBytes(r, entry, &value.data)) {
            return false;
        }
    } else {
        value.data = data.bytes;
    }
    r->driverKey->values[name] = value;
    return true;
}

// Takes a value of the node's own key.
bool TakeValue(EnumReading* r, const Entry& entry)
{
    const ValueData& data = entry.data;
    Node& node = r->out->nodes[r->owner];
    const bool stringType = IsStringType(data.type);
    if (SameName(entry.valueName, "HardwareID")) {
        node.hasHardwareId = !data.remove;
        node.hardwareId.clear();
        if (data.isString) {
            // One entry, without the empty entry that closes a list.
            node.hardwareId = ToAnsi(*r, data.text);
            node.hardwareId += '\0';
        } else if (stringType) {
            return StringBytes(r, entry, &node.hardwareId);
        } else {
            node.hardwareId = data.bytes;
        }
    } else if (SameName(entry.valueName, "ClassGUID")) {
        return TakeText(r, entry, stringType, &node.classGuid);
    } else if (SameName(entry.valueName, "Class")) {
        return TakeText(r, entry, stringType, &node.className);
    } else if (SameName(entry.valueName, "Driver")) {
        return TakeText(r, entry, stringType, &node.driver);
    } else if (SameName(entry.valueName, "DeviceDesc")) {
        return TakeShownText(r, entry, stringType, &node.deviceDesc);
    } else if (SameName(entry.valueName, "FriendlyName")) {
        return TakeShownText(r, entry, stringType, &node.friendlyName);
    } else if (SameName(entry.valueName, "Mfg")) {
        return TakeShownText(r, entry, stringType, &node.manufacturer);
    }
    return true;
}

bool TakeEntry(EnumReading* r, const Entry& entry)
{
    switch (entry.kind) {
        case EntryKind::Blank:
            // Blank lines after a comment stay with the comment, which stays.
            if (!r->afterComment) {
                Claim(r, entry);
            }
            return true;
        case EntryKind::Comment:
            r->afterComment = true;
            return true;
        case EntryKind::Key:
            r->afterComment = false;
            TakeKey(r, entry);
            return true;
        case EntryKind::Value:
            r->afterComment = false;
            Claim(r, entry);
            if (r->driverKey != nullptr) {
                return TakeDriverValue(r, entry);
            }
            return r->owner == kNone || !r->nodeKey || TakeValue(r, entry);
    }
    return true;
}

bool ReadEnumKey(const std::string& bytes, UINT codePage, DeviceDatabase* out, Failure* failure)
{
    ExportText text;
    if (!SplitLines(bytes, &text, failure)) {
        return false;
    }
    SyntaxReader reader(text, codePage);
    if (!reader.ReadHeader(failure)) {
        return false;
    }
    EnumReading r;
    r.text = &text;
    r.codePage = codePage;
    r.version5 = reader.Version5();
    r.unicode = reader.Unicode();
    r.out = out;
    r.failure = failure;
    Entry entry;
    for (;;) {
        const Step step = reader.Next(&entry, failure);
        if (step == Step::End) {
            return true;
        }
        if (step == Step::Failed || !TakeEntry(&r, entry)) {
            return false;
        }
    }
}

}  // namespace

bool ParseRegistryExport(const std::string& bytes, UINT codePage, DeviceDatabase* out, std::string* error)
{
    *out = DeviceDatabase();
    Failure failure;
    if (!ReadEnumKey(bytes, codePage, out, &failure)) {
        *out = DeviceDatabase();
        *error = "line " + std::to_string(failure.line) + ": " + failure.problem;
        return false;
    }
    return true;
}

}  // namespace hwsim

// Reading registry exports of the Enum key, and dropping nodes from them.
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/registry_export.h"
#include "tests/files.h"

namespace {

using hwsim::DeviceDatabase;
using hwsim::Node;

const char kEnum[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";

std::string Iconv(const std::string& in, const char* from, const char* to)
{
    iconv_t cd = iconv_open(to, from);
    std::string out(in.size() * 4 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &out[0];
    size_t dstLeft = out.size();
    iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

std::string Utf16(const std::string& utf8)
{
    return Iconv(utf8, "UTF-8", "UTF-16LE");
}

std::string HexList(const std::string& bytes)
{
    std::string out;
    char digits[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes[i]));
        out += (i == 0 ? "" : ",") + std::string(digits);
    }
    return out;
}

enum class Form { Utf16Bom, Utf8Bom, Utf8, Regedit4 };
const Form kForms[] = {Form::Utf16Bom, Form::Utf8Bom, Form::Utf8, Form::Regedit4};

const char* FormName(Form form)
{
    switch (form) {
        case Form::Utf16Bom:
            return "version 5, UTF-16LE";
        case Form::Utf8Bom:
            return "version 5, UTF-8 with BOM";
        case Form::Utf8:
            return "version 5, UTF-8";
        case Form::Regedit4:
            return "REGEDIT4";
    }
    return "";
}

// The body of an export, given in UTF-8 with LF line ends, as a whole file
// in `form` with CR LF line ends. "{ids:A|B}" stands for a hex(7) list of
// the entries, closed by an empty one, in the form's own encoding.
std::string Export(Form form, const std::string& body)
{
    std::string text;
    for (size_t i = 0; i < body.size();) {
        const size_t open = body.find("{ids:", i);
        if (open == std::string::npos) {
            text += body.substr(i);
            break;
        }
        const size_t close = body.find('}', open);
        text += body.substr(i, open - i);
        std::string list;
        std::stringstream entries(body.substr(open + 5, close - open - 5));
        for (std::string entry; std::getline(entries, entry, '|');) {
            list += entry + '\0';
        }
        list += '\0';
        text += "hex(7):" + HexList(form == Form::Regedit4 ? list : Utf16(list));
        i = close + 1;
    }
    text = (form == Form::Regedit4 ? "REGEDIT4\n\n" : "Windows Registry Editor Version 5.00\n\n") + text;
    std::string crlf;
    for (char c : text) {
        crlf += c == '\n' ? "\r\n" : std::string(1, c);
    }
    switch (form) {
        case Form::Utf16Bom:
            return "\xFF\xFE" + Utf16(crlf);
        case Form::Utf8Bom:
            return "\xEF\xBB\xBF" + crlf;
        default:
            return crlf;
    }
}

std::string Key(const std::string& path)
{
    return "[" + std::string(kEnum) + path + "]\n";
}

std::string Describe(const std::vector<Node>& nodes)
{
    std::string out;
    for (const Node& node : nodes) {
        out += node.instanceId + " class=" + node.classGuid + (node.present ? " present" : "");
        out += node.hasHardwareId ? " ids=[" + HexList(node.hardwareId) + "]" : " no ids";
        out += "\n";
    }
    return out;
}

struct ReadCase {
    const char* what;
    std::string body;
    std::vector<Node> nodes;
    bool version5Only = false;  // holds UTF-16 bytes written out by hand
};

TEST(RegistryExport, ReadsNodesInEveryEncoding)
{
    const std::string guid = "{36fc9e60-c465-11cf-8056-444553540000}";
    const std::string ids = "{ids:USB\\VID_1A2B&PID_4100&REV_0200|USB\\VID_1A2B&PID_4100}";
    const Node scanner = hwsim::MakeNode("USB\\VID_1A2B&PID_4100\\K4", guid, false,
                                         {"USB\\VID_1A2B&PID_4100&REV_0200", "USB\\VID_1A2B&PID_4100"});
    const ReadCase cases[] = {
        {"a node among its parent keys and subkeys",
         "[" + std::string(kEnum, strlen(kEnum) - 1) + "]\n\n" + Key("USB") + "\n" + Key("USB\\VID_1A2B&PID_4100") +
             "\n" + Key("USB\\VID_1A2B&PID_4100\\K4") +
             "\"DeviceDesc\"=\"KIVO 4100\"\n\"Capabilities\"=dword:00000084\n\"HardwareID\"=" + ids +
             "\n\"ClassGUID\"=\"" + guid + "\"\n\n" + Key("USB\\VID_1A2B&PID_4100\\K4\\Device Parameters") +
             "\"HardwareID\"=\"not the node's\"\n\n" + Key("USB\\VID_1A2B&PID_4100\\K4\\LogConf") + "\n",
         {scanner}},
        {"a hex list continued over lines, the value name in another case",
         Key("USB\\VID_1A2B&PID_4100\\K4") + "\"hardwareid\"=hex(7):55,00,53,00,\\\n  42,00 , 00,00,\\\n  00,00\n" +
             "\"CLASSGUID\"=\"" + guid + "\"\n",
         {hwsim::MakeNode("USB\\VID_1A2B&PID_4100\\K4", guid, false, {"USB"})},
         true},
        {"no HardwareID, no ClassGUID: still a node",
         Key("ROOT\\X\\0000") + "\"ConfigFlags\"=dword:00000020\n",
         {hwsim::MakeNodeWithoutIds("ROOT\\X\\0000", "", false)}},
        {"a hex(7) value with no bytes, and a plain string",
         Key("ROOT\\X\\0000") + "\"HardwareID\"=hex(7):\n" + Key("ROOT\\Y\\0000") + "\"HardwareID\"=\"ROOT\\\\Y\"\n",
         {hwsim::MakeNodeWithBytes("ROOT\\X\\0000", "", false, ""),
          hwsim::MakeNodeWithBytes("ROOT\\Y\\0000", "", false, std::string("ROOT\\Y\0", 7))}},
        {"a Control subkey marks a node present; file order, not key order",
         Key("USB\\B\\2") + Key("USB\\B\\2\\Control") + "\"ActiveService\"=\"usbccgp\"\n" + Key("USB\\A\\1"),
         {hwsim::MakeNodeWithoutIds("USB\\B\\2", "", true), hwsim::MakeNodeWithoutIds("USB\\A\\1", "", false)}},
        {"the last node, its empty Control subkey ending the file without a line end",
         Key("USB\\A\\1") + "[" + kEnum + "USB\\A\\1\\Control]",
         {hwsim::MakeNodeWithoutIds("USB\\A\\1", "", true)}},
        {"a node named only through a subkey; a key repeated merges, the later value wins",
         Key("USB\\A\\1\\Device Parameters") + Key("USB\\B\\2") + "\"HardwareID\"=\"old\"\n" + Key("usb\\a\\1") +
             "\"HardwareID\"=" + ids + "\n" + Key("USB\\B\\2") + "\"HardwareID\"=-\n",
         {hwsim::MakeNode("USB\\A\\1", "", false, {"USB\\VID_1A2B&PID_4100&REV_0200", "USB\\VID_1A2B&PID_4100"}),
          hwsim::MakeNodeWithoutIds("USB\\B\\2", "", false)}},
        {"comments, blank lines, default values, other types, keys outside Enum",
         "; exported for the KIVO preview\n\n[HKEY_CURRENT_USER\\SYSTEM\\X\\Enum\\A\\B\\C]\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Enum\\A\\B\\C]\n\"HardwareID\"=\"no\"\n" +
             Key("USB\\A\\1") +
             "  ; indented comment\n@=\"default\"\n\"Bin\"=hex:00,ff\n\"Q\\\"\\\\\"=\"a \\\"b\\\" c:\\\\\"\n" +
             "\"Prop\"=hex(ffff0012):41,00\n\"HardwareID\"=hex(7):41,00,00,00,00,00\n" +
             Key("USB\\A\\1\\Properties\\{x}\\0003") + "@=hex(ffff0012):00,00\n",
         {hwsim::MakeNode("USB\\A\\1", "", false, {"A"})},
         true},
        {"HKLM and another control set",
         "[HKLM\\SYSTEM\\ControlSet001\\Enum\\PCI\\VEN_1\\3&0]\n\"HardwareID\"=\"PCI\\\\VEN_1\"\n",
         {hwsim::MakeNodeWithBytes("PCI\\VEN_1\\3&0", "", false, std::string("PCI\\VEN_1\0", 10))}},
    };
    for (const ReadCase& c : cases) {
        for (Form form : kForms) {
            if (form == Form::Regedit4 && c.version5Only) {
                continue;
            }
            DeviceDatabase database;
            std::string error;
            ASSERT_TRUE(hwsim::ParseRegistryExport(Export(form, c.body), 1252, &database, &error))
                << c.what << ", " << FormName(form) << ": " << error;
            EXPECT_EQ(Describe(database.nodes), Describe(c.nodes)) << c.what << ", " << FormName(form);
        }
    }
}

std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        out += c == '\\' ? "\\\\" : std::string(1, c);
    }
    return out;
}

struct CodePageCase {
    UINT codePage;
    std::string id;        // in UTF-8
    std::string expected;  // in the code page
};

TEST(RegistryExport, ConvertsUnicodeFilesToTheAnsiCodePage)
{
    const CodePageCase cases[] = {
        {1252, "USB\\CAF\xC3\x89", "USB\\CAF\xC9"},
        {437, "USB\\CAF\xC3\x89", "USB\\CAF\x90"},
        {932, "USB\\CAF\xC3\x89", "USB\\CAF?"},
        {932, "USB\\\xE3\x82\xAB", "USB\\\x83\x4A"},
        {1252, "USB\\\xE3\x82\xAB", "USB\\?"},
        {1252, "USB\\\xF0\x9F\x98\x80!", "USB\\?!"},  // outside the BMP: one character, one '?'
        {65001, "USB\\\xE3\x82\xAB", "USB\\\xE3\x82\xAB"},
        {65001, "USB\\\xE0\xA0\x80\xE0\xBF\xBF", "USB\\\xE0\xA0\x80\xE0\xBF\xBF"},  // U+0800, U+0FFF
        {932, "USB\\\xE9\xBB\x91", "USB\\\xFC\x4B"},                                // 0xFC: the last lead byte
        {12345, "USB\\CAF\xC3\x89", "USB\\CAF?"},  // a code page the system does not know
    };
    for (const CodePageCase& c : cases) {
        const std::string expected = c.expected + '\0' + '\0';
        for (Form form : {Form::Utf16Bom, Form::Utf8}) {
            DeviceDatabase database;
            std::string error;
            ASSERT_TRUE(hwsim::ParseRegistryExport(
                Export(form, Key("USB\\A\\1") + "\"HardwareID\"={ids:" + c.id + "}\n"), c.codePage, &database, &error))
                << error;
            ASSERT_EQ(database.nodes.size(), 1u);
            EXPECT_EQ(HexList(database.nodes[0].hardwareId), HexList(expected)) << c.codePage << " " << FormName(form);
            // The same text as a plain string: one entry, no closing one.
            ASSERT_TRUE(hwsim::ParseRegistryExport(
                Export(form, Key("USB\\A\\1") + "\"HardwareID\"=\"" + Escaped(c.id) + "\"\n"), c.codePage, &database,
                &error));
            EXPECT_EQ(HexList(database.nodes[0].hardwareId), HexList(c.expected + '\0')) << c.codePage;
        }
    }
    // A lone surrogate in a UTF-16 list is a character the code page lacks.
    DeviceDatabase database;
    std::string error;
    ASSERT_TRUE(hwsim::ParseRegistryExport(
        Export(Form::Utf16Bom, Key("USB\\A\\1") + "\"HardwareID\"=hex(7):41,00,00,d8,00,00,00,00\n"), 1252, &database,
        &error));
    EXPECT_EQ(database.nodes[0].hardwareId, std::string("A?\0\0", 4));
    // REGEDIT4 bytes stand as they are, whatever the code page.
    ASSERT_TRUE(hwsim::ParseRegistryExport(
        "REGEDIT4\r\n[" + std::string(kEnum) + "USB\\A\\1]\r\n\"HardwareID\"=hex(7):c9,5c,00,00\r\n\"x\"=\"\xC9\"\r\n",
        932, &database, &error))
        << error;
    EXPECT_EQ(database.nodes[0].hardwareId, std::string("\xC9\\\0\0", 4));
    // In a double-byte code page a trail byte 0x5C is part of its character,
    // neither a key separator nor an escape: U+8868 is 0x95 0x5C in 932, and
    // 0xFC is the last of its lead bytes.
    for (const std::string& lead : {std::string("\x95"), std::string("\xFC")}) {
        const std::string dbcs = "REGEDIT4\r\n[" + std::string(kEnum) + "ROOT\\" + lead +
                                 "\\\\0000]\r\n\"HardwareID\"=\"ROOT\\\\" + lead + "\\\"\r\n";
        ASSERT_TRUE(hwsim::ParseRegistryExport(dbcs, 932, &database, &error)) << error;
        ASSERT_EQ(database.nodes.size(), 1u);
        EXPECT_EQ(database.nodes[0].instanceId, "ROOT\\" + lead + "\\\\0000");
        EXPECT_EQ(database.nodes[0].hardwareId, "ROOT\\" + lead + std::string("\\\0", 2));
        EXPECT_FALSE(hwsim::ParseRegistryExport(dbcs, 1252, &database, &error)) << "0x5C taken as a trail byte in 1252";
    }
}

struct BadCase {
    std::string text;  // the whole file, UTF-8 / narrow
    size_t line;
    const char* problem;
};

TEST(RegistryExport, NamesTheLineAndTheProblemOfABrokenFile)
{
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n";
    const std::string key = "[" + std::string(kEnum) + "USB\\A\\1]\r\n";
    const BadCase cases[] = {
        {"", 1, "empty"},
        {"Windows Registry Editor Version 4.00\r\n", 1, "not a registry export"},
        {"\xFE\xFF\0W\0i", 1, "not a registry export"},
        {"[" + std::string(kEnum) + "A\\B\\C]\r\n", 1, "not a registry export"},
        {v5 + "\"HardwareID\"=\"x\"\r\n", 3, "before the first key"},
        {v5 + "[HKEY_LOCAL_MACHINE\\SYSTEM\r\n", 3, "must end with ']'"},
        {v5 + "[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\A\\1]\r\n", 3, "deletions"},
        {v5 + "[HKEY_LOCAL_MACHINE\\\\SYSTEM]\r\n", 3, "empty part"},
        {v5 + key + "\"HardwareID\"=\"USB\\VID_1A2B\"\r\n", 4, "unknown escape '\\V'"},
        {v5 + key + "\"HardwareID\"=\"USB\\\xC3\xA9\"\r\n", 4, "unknown escape '\\\\xC3'"},
        {v5 + key + "\"HardwareID\"=\"USB\r\n", 4, "closing quote"},
        {v5 + key + "\"HardwareID\"=hex(7):41,00,\\\r\n  zz,00\r\n", 5, "hex byte"},
        {v5 + key + "\"A\"=hex:01,,02\r\n", 4, "hex byte"},
        {v5 + key + "\"A\"=hex:012\r\n", 4, "expected ','"},
        {v5 + key + "\"A\"=hex:01,\\ 02\r\n", 4, "after the backslash"},
        {v5 + key + "\"A\"=hex(7:00\r\n", 4, "hex(N)"},
        {v5 + key + "\"A\"=dword:123456789\r\n", 4, "a dword value needs 1 to 8 hex digits"},
        {v5 + key + "\"A\"=dword:\r\n", 4, "a dword value needs 1 to 8 hex digits"},
        {v5 + key + "\"A\" \"B\"\r\n", 4, "'='"},
        {v5 + key + "\"A\"=12\r\n", 4, "unrecognized"},
        {v5 + key + "\"A\"=\"x\" y\r\n", 4, "after the value"},
        {v5 + key + "HardwareID=\"x\"\r\n", 4, "expected a [key]"},
        {v5 + key + "\"HardwareID\"=hex(7):41,00,00\r\n", 4, "odd number"},
        {v5 + key + "\"HardwareID\"=hex(7):41,00,\\\r\n", 4, "ends inside a value"},
        {"\xFF\xFE" + Utf16("Windows Registry Editor Version 5.00\r\n") + "A", 2, "middle of a UTF-16"},
    };
    for (const BadCase& c : cases) {
        DeviceDatabase database;
        std::string error;
        EXPECT_FALSE(hwsim::ParseRegistryExport(c.text, 1252, &database, &error)) << c.text;
        EXPECT_EQ(error.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << error << " for\n" << c.text;
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
        EXPECT_TRUE(database.nodes.empty());
    }
}

TEST(RegistryExport, HeaderLineMayEndWithBlanks)
{
    const std::string body = "\r\n[" + std::string(kEnum) + "USB\\A\\1]\r\n\"HardwareID\"=hex(7):";
    // The list is UTF-16 only where the header is read as version 5.
    const std::string files[] = {
        "Windows Registry Editor Version 5.00 \t \r\n" + body + "41,00,00,00,00,00\r\n",
        "\xFF\xFE" + Utf16("Windows Registry Editor Version 5.00  \r\n" + body + "41,00,00,00,00,00\r\n"),
        "REGEDIT4\t \r\n" + body + "41,00,00\r\n",
    };
    for (const std::string& file : files) {
        DeviceDatabase database;
        std::string error;
        ASSERT_TRUE(hwsim::ParseRegistryExport(file, 1252, &database, &error)) << error;
        ASSERT_EQ(database.nodes.size(), 1u);
        EXPECT_EQ(database.nodes[0].hardwareId, std::string("A\0\0", 3)) << file.substr(0, 12);
    }
}

TEST(RegistryExport, RefusesALineThatEndsInsideACharacterInCodePage932)
{
    // 0x82 leads in 932: the byte after it is its second byte, even a ']' or
    // a '"', so neither line closes. The line after would close either, so a
    // read past the line end changes the answer.
    const std::string head = "REGEDIT4\r\n[" + std::string(kEnum) + "ROOT\\X\\0000]\r\n";
    const BadCase cases[] = {
        {"REGEDIT4\r\n[" + std::string(kEnum) + "ROOT\\X\\000\x82]\r\n]\r\n", 2, "a key line must end with ']'"},
        {head + "\"HardwareID\"=\"ROOT\\\\X\x82\r\n\"\r\n", 3, "a string without its closing quote"},
        {head + "\"HardwareID\"=\"ROOT\\\\X\x82\"\r\n\"\r\n", 3, "a string without its closing quote"},
    };
    for (const BadCase& c : cases) {
        DeviceDatabase database;
        std::string error;
        EXPECT_FALSE(hwsim::ParseRegistryExport(c.text, 932, &database, &error)) << c.text;
        EXPECT_EQ(error, "line " + std::to_string(c.line) + ": " + c.problem) << c.text;
    }
}

using hwtest::ReadFile;

// Cuts and corruptions of real exports: each either reads or names a line
// of the file; the sanitizer build sees any read out of bounds.
TEST(RegistryExport, SurvivesTruncatedAndCorruptedFiles)
{
    for (const char* name : {"/examples/sample-enum.reg", "/examples/workstation-enum.reg"}) {
        const std::string file = ReadFile(std::string(HWPURGE_SOURCE_DIR) + name);
        ASSERT_GT(file.size(), 1000u);
        const std::string text = Iconv(file.substr(2), "UTF-16LE", "UTF-8");
        const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        uint32_t seed = 12345;
        for (size_t cut = 0; cut < file.size(); cut += 97) {
            std::string cutText = file.substr(0, cut);
            seed = seed * 1103515245u + 12345u;
            if (!cutText.empty() && (seed >> 16) % 2 == 0) {
                cutText[(seed >> 8) % cutText.size()] = static_cast<char>(seed >> 24);
            }
            DeviceDatabase database;
            std::string error;
            if (!hwsim::ParseRegistryExport(cutText, 1252, &database, &error)) {
                const size_t line = strtoul(error.c_str() + 5, nullptr, 10);
                EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
                EXPECT_TRUE(line >= 1 && line <= lines) << error;
            } else {
                for (const auto& ranges : database.layout.lines) {
                    for (const hwsim::ByteRange& range : ranges) {
                        EXPECT_TRUE(range.begin < range.end && range.end <= cutText.size());
                    }
                }
            }
        }
    }
}

struct RewriteCase {
    const char* what;
    std::string before;
    std::vector<std::string> removed;  // instance IDs
    std::string after;
};

TEST(RegistryExport, DropsOnlyTheRemovedNodesLines)
{
    const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n";
    const std::string enumKey = "[" + std::string(kEnum).substr(0, strlen(kEnum) - 1) + "]\r\n\r\n";
    const std::string usb = "[" + std::string(kEnum) + "USB]\r\n\r\n";
    const std::string deviceA = "[" + std::string(kEnum) + "USB\\A]\r\n\r\n";
    const std::string nodeA1 = "[" + std::string(kEnum) +
                               "USB\\A\\1]\r\n\"HardwareID\"=hex(7):41,00,\\\r\n  00,00,00,00\r\n\r\n" + "[" +
                               std::string(kEnum) + "USB\\A\\1\\Device Parameters]\r\n\"x\"=dword:1\r\n\r\n";
    const std::string nodeA2 = "[" + std::string(kEnum) + "USB\\A\\2]\r\n\"ClassGUID\"=\"{g}\"\r\n\r\n";
    const std::string nodeB = "[" + std::string(kEnum) + "USB\\B\\9]\r\n@=\"b\"\r\n\r\n";
    auto key = [](const std::string& path) {
        return "[" + std::string(kEnum) + "USB\\" + path + "]\r\n\"at\"=dword:" + std::to_string(path.size()) +
               "\r\n\r\n";
    };
    const RewriteCase cases[] = {
        {"a node and its subkeys; parent keys stay",
         head + enumKey + usb + deviceA + nodeA1 + nodeA2 + nodeB,
         {"USB\\A\\1"},
         head + enumKey + usb + deviceA + nodeA2 + nodeB},
        {"the last node, then every node: the device key goes with its last node, the enumerator stays",
         head + usb + deviceA + nodeA1 + nodeA2,
         {"USB\\A\\2", "USB\\A\\1"},
         head + usb},
        {"a device key named in another case, with a value",
         head + usb + "[" + kEnum + "usb\\a]\r\n\"v\"=\"1\"\r\n\r\n" + nodeA1,
         {"USB\\A\\1"},
         head + usb},
        {"comments stay, even inside a removed node",
         head + "; top\r\n" + deviceA + "; about A1\r\n[" + kEnum + "USB\\A\\1]\r\n; inside\r\n\"a\"=\"1\"\r\n\r\n" +
             nodeA2,
         {"USB\\A\\1", "USB\\A\\2"},
         head + "; top\r\n" + "; about A1\r\n; inside\r\n"},
        {"LF line ends and no line end at the end of the file",
         "REGEDIT4\n\n" + std::string("[") + kEnum + "X\\Y\\1]\n\"a\"=\"1\"\n\n[" + kEnum + "X\\Y\\2]\n\"a\"=\"2\"",
         {"X\\Y\\2"},
         "REGEDIT4\n\n" + std::string("[") + kEnum + "X\\Y\\1]\n\"a\"=\"1\"\n\n"},
        {"a comment between nodes keeps the blank line after it",
         head + nodeA2 + "; next\r\n\r\n" + nodeB,
         {"USB\\A\\2"},
         head + "; next\r\n\r\n" + nodeB},
        {"a node whose key comes twice, with another between",
         head + nodeA2 + nodeB + nodeA2,
         {"USB\\A\\2"},
         head + nodeB},
        {"two removed nodes whose lines interleave with a kept node's subkeys",
         head + key("A\\1") + key("C\\3") + key("B\\2") + key("C\\3\\S1") + key("A\\1\\S") + key("C\\3\\S2") +
             key("B\\2\\S"),
         {"USB\\A\\1", "USB\\B\\2"},
         head + key("C\\3") + key("C\\3\\S1") + key("C\\3\\S2")},
    };
    for (const RewriteCase& c : cases) {
        for (bool utf16 : {false, true}) {
            const std::string before = utf16 ? "\xFF\xFE" + Utf16(c.before) : c.before;
            const std::string after = utf16 ? "\xFF\xFE" + Utf16(c.after) : c.after;
            DeviceDatabase database;
            std::string error;
            ASSERT_TRUE(hwsim::ParseRegistryExport(before, 1252, &database, &error)) << c.what << ": " << error;
            EXPECT_EQ(hwsim::WithoutRemovedNodes(before, database), before) << c.what << ": nothing removed";
            size_t marked = 0;
            for (Node& node : database.nodes) {
                for (const std::string& id : c.removed) {
                    if (node.instanceId == id) {
                        node.removed = true;
                        ++marked;
                    }
                }
            }
            ASSERT_EQ(marked, c.removed.size()) << c.what;
            EXPECT_EQ(hwsim::WithoutRemovedNodes(before, database), after) << c.what << (utf16 ? ", UTF-16" : "");
        }
    }
}

}  // namespace

// The machine the host program runs on when nothing else is given: a dozen
// device nodes that show what hwpurge removes and what it leaves alone.
#include "platform/host/simulated_windows.h"

namespace hwsim {

std::vector<Node> SampleDatabase()
{
    const std::string usb = "{36fc9e60-c465-11cf-8056-444553540000}";
    const std::string hid = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}";
    const std::string ports = "{4d36e978-e325-11ce-bfc1-08002be10318}";
    const std::string image = "{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
    const std::string system = "{4d36e97d-e325-11ce-bfc1-08002be10318}";
    const std::string display = "{4d36e968-e325-11ce-bfc1-08002be10318}";
    const std::string net = "{4d36e972-e325-11ce-bfc1-08002be10318}";
    return {
        MakeNode("PCI\\VEN_8086&DEV_A2AF&SUBSYS_86941043&REV_00\\3&11583659&0&A0", usb, true,
                 {"PCI\\VEN_8086&DEV_A2AF&SUBSYS_86941043&REV_00", "PCI\\VEN_8086&DEV_A2AF&SUBSYS_86941043",
                  "PCI\\VEN_8086&DEV_A2AF&CC_0C0330", "PCI\\VEN_8086&DEV_A2AF"}),
        // The KIVO 4100 scanner, plugged in, and a KIVO 720 seen on another port.
        MakeNode("USB\\VID_1A2B&PID_4100\\K41000123", image, true,
                 {"USB\\VID_1A2B&PID_4100&REV_0200", "USB\\VID_1A2B&PID_4100"}),
        MakeNode("USB\\VID_1A2B&PID_0720\\7&2F1A3C&0&2", ports, false,
                 {"USB\\VID_1A2B&PID_0720&REV_0110", "USB\\VID_1A2B&PID_0720"}),
        MakeNode("HID\\VID_046D&PID_C52B&MI_00\\8&1B2C3D4E&0&0000", hid, true,
                 {"HID\\VID_046D&PID_C52B&REV_1211&MI_00", "HID\\VID_046D&PID_C52B&MI_00", "HID_DEVICE_SYSTEM_MOUSE"}),
        // A composite parent whose KIVO identity is only its second entry.
        MakeNode("USB\\VID_0BDA&PID_5411\\6&3A4B5C&0&4", usb, false,
                 {"USB\\VID_0BDA&PID_5411&REV_0101", "usb\\vid_1a2b&pid_4100&mi_01"}),
        // A node listing two KIVO entries: one line, naming the first.
        MakeNode("USB\\VID_1A2B&PID_4100&MI_00\\8&19C2A1&0&0000", image, false,
                 {"USB\\VID_1A2B&PID_4100&REV_0200&MI_00", "USB\\VID_1A2B&PID_4100&MI_00"}),
        // Never installed completely: no hardware-ID property at all.
        MakeNodeWithoutIds("USB\\VID_1A2B&PID_4100\\5&DEAD&0&9", image, false),
        // A property that exists but holds nothing.
        MakeNodeWithBytes("ROOT\\KIVO_FILTER\\0000", system, false, std::string()),
        MakeNode("ROOT\\BASICDISPLAY\\0000", display, true, {"ROOT\\BASICDISPLAY"}),
        MakeNode("ROOT\\kdnic\\0000", net, true, {"root\\kdnic"}),
        MakeNode("HID\\VID_1A2C&PID_4100\\9&ABC&0&0000", hid, true, {"HID\\VID_1A2C&PID_4100&REV_0001"}),
        MakeNode("USB\\VID_1A2B&PID_0999\\0001", usb, false, {"USB\\VID_1A2B&PID_0999&REV_0001"}),
    };
}

}  // namespace hwsim

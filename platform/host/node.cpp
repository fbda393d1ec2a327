#include "platform/host/node.h"

namespace hwsim {

std::string FoldedName(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

Node MakeNode(const std::string& instanceId, const std::string& classGuid, bool present,
              const std::vector<std::string>& ids)
{
    std::string bytes;
    for (const std::string& id : ids) {
        bytes += id;
        bytes += '\0';
    }
    bytes += '\0';
    return MakeNodeWithBytes(instanceId, classGuid, present, bytes);
}

Node MakeNodeWithoutIds(const std::string& instanceId, const std::string& classGuid, bool present)
{
    Node node;
    node.instanceId = instanceId;
    node.classGuid = classGuid;
    node.present = present;
    return node;
}

Node MakeNodeWithBytes(const std::string& instanceId, const std::string& classGuid, bool present,
                       const std::string& bytes)
{
    Node node = MakeNodeWithoutIds(instanceId, classGuid, present);
    node.hasHardwareId = true;
    node.hardwareId = bytes;
    return node;
}

}  // namespace hwsim

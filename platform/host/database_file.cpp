#include "platform/host/database_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace hwsim {
namespace {

bool WriteAll(int fd, const std::string& content)
{
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string WithoutRemovedNodes(const std::string& bytes, const DeviceDatabase& database)
{
    return WithoutRemovedNodes(bytes, database.nodes, database.layout);
}

std::string WithoutRemovedNodes(const std::string& bytes, const std::vector<Node>& nodes, const ExportLayout& layout)
{
    std::vector<ByteRange> dropped;
    // Per device key: whether a node of it was removed, and whether one stays.
    std::vector<bool> lostNode(layout.deviceLines.size(), false);
    std::vector<bool> keptNode(layout.deviceLines.size(), false);
    for (size_t i = 0; i < nodes.size() && i < layout.lines.size(); ++i) {
        if (nodes[i].removed) {
            dropped.insert(dropped.end(), layout.lines[i].begin(), layout.lines[i].end());
        }
        if (i < layout.deviceOf.size() && layout.deviceOf[i] < lostNode.size()) {
            (nodes[i].removed ? lostNode : keptNode)[layout.deviceOf[i]] = true;
        }
    }
    for (size_t device = 0; device < layout.deviceLines.size(); ++device) {
        if (lostNode[device] && !keptNode[device]) {
            dropped.insert(dropped.end(), layout.deviceLines[device].begin(), layout.deviceLines[device].end());
        }
    }
    // A removed node's driver key goes with it, unless a node that stays
    // names it too.
    std::set<std::string> lostKeys;
    std::set<std::string> keptKeys;
    for (const Node& node : nodes) {
        if (!node.driver.empty()) {
            (node.removed ? lostKeys : keptKeys).insert(FoldedName(node.driver));
        }
    }
    for (const std::string& key : lostKeys) {
        const auto lines = layout.driverKeyLines.find(key);
        if (keptKeys.count(key) == 0 && lines != layout.driverKeyLines.end()) {
            dropped.insert(dropped.end(), lines->second.begin(), lines->second.end());
        }
    }
    std::sort(dropped.begin(), dropped.end(), [](const ByteRange& a, const ByteRange& b) { return a.begin < b.begin; });
    std::string result;
    result.reserve(bytes.size());
    size_t kept = 0;
    for (const ByteRange& range : dropped) {
        const size_t begin = std::min(range.begin, bytes.size());
        if (begin > kept) {
            result.append(bytes, kept, begin - kept);
        }
        kept = std::max(kept, std::min(range.end, bytes.size()));
    }
    if (bytes.size() > kept) {
        result.append(bytes, kept, bytes.size() - kept);
    }
    return result;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& content, std::string* error)
{
    std::string target = path;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        target = resolved;
        free(resolved);
    }
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = folder + "/." + name + ".XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    if (fd < 0) {
        *error = "cannot create a temporary file in " + folder + ": " + strerror(errno);
        return false;
    }
    struct stat old;
    if (stat(target.c_str(), &old) == 0) {
        // mkstemp makes the file private; keep the permissions the old one had.
        (void)fchmod(fd, old.st_mode & 07777);
    }
    const char* step = nullptr;
    if (!WriteAll(fd, content)) {
        step = "cannot write ";
    } else if (fsync(fd) != 0) {
        step = "cannot flush ";
    }
    const int saved = errno;
    if (close(fd) != 0 && step == nullptr) {
        step = "cannot close ";
    } else {
        errno = saved;
    }
    if (step == nullptr && rename(temporary.c_str(), target.c_str()) != 0) {
        step = "cannot rename over the old file ";
    }
    if (step != nullptr) {
        *error = step + temporary + ": " + strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself lasts only once the folder is on disk too.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        (void)fsync(dir);
        close(dir);
    }
    return true;
}

LoadResult LoadRegistryExport(const std::string& path, UINT codePage, DeviceDatabase* out)
{
    LoadResult result;
    *out = DeviceDatabase();
    auto fail = [&](DWORD code, const std::string& problem) {
        result.error = code;
        result.message = "simulated Windows: " + path + ": " + problem;
        return result;
    };
    auto failErrno = [&](int number) {
        const bool missing = number == ENOENT || number == ENOTDIR || number == ENAMETOOLONG || number == ELOOP;
        return fail(missing ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED, strerror(number));
    };
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return failErrno(errno);
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        const int number = errno;
        close(fd);
        return failErrno(number);
    }
    if (S_ISDIR(info.st_mode)) {
        close(fd);
        return fail(ERROR_ACCESS_DENIED, "a folder, not a registry export file");
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int number = errno;
            close(fd);
            return failErrno(number);
        }
        if (n == 0) {
            break;
        }
        result.bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    std::string error;
    if (!ParseRegistryExport(result.bytes, codePage, out, &error)) {
        return fail(ERROR_INVALID_DATA, error);
    }
    return result;
}

}  // namespace hwsim

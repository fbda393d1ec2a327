// The database file on disk: its atomic rewrite, the simulated Windows
// reading it, and the host program run on it as a new user would.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/registry_export.h"
#include "removal/hardware_id.h"
#include "removal/remove_devices.h"
#include "tests/child_process.h"
#include "tests/expected_output.h"
#include "tests/files.h"

namespace {

const std::string kSource = HWPURGE_SOURCE_DIR;

using hwtest::ReadFile;
using hwtest::WriteFile;

std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    return names;
}

ino_t Inode(const std::string& path)
{
    struct stat info = {};
    stat(path.c_str(), &info);
    return info.st_ino;
}

class DatabaseFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/hwpurge-db-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        file_ = folder_ + "/enum.reg";
    }

    void TearDown() override
    {
        chmod(folder_.c_str(), 0700);
        for (const std::string& name : Entries(folder_)) {
            unlink((folder_ + "/" + name).c_str());
        }
        rmdir(folder_.c_str());
    }

    std::string folder_;
    std::string file_;
};

// Writing fails once the file would pass `limit` bytes, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_ = {};
    void (*previous_)(int) = nullptr;
};

TEST_F(DatabaseFile, ReplacesTheFileWholeOrNotAtAll)
{
    const std::string old(5000, 'o');
    WriteFile(file_, old);
    chmod(file_.c_str(), 0640);
    symlink("enum.reg", (folder_ + "/link.reg").c_str());
    std::string error;

    ASSERT_TRUE(hwsim::ReplaceFileAtomically(folder_ + "/link.reg", "new", &error)) << error;
    EXPECT_EQ(ReadFile(file_), "new");
    struct stat info = {};
    ASSERT_EQ(lstat((folder_ + "/link.reg").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced instead of its target";
    ASSERT_EQ(stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    WriteFile(file_, old);
    {
        // The new content is larger than the disk allows: the write stops part-way.
        FileSizeLimit limit(1000);
        EXPECT_FALSE(hwsim::ReplaceFileAtomically(file_, std::string(8000, 'n'), &error));
    }
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(file_), old);
    EXPECT_EQ(Entries(folder_).size(), 2u) << "a temporary file was left behind";

    EXPECT_FALSE(hwsim::ReplaceFileAtomically(folder_ + "/gone/enum.reg", "x", &error));
    EXPECT_NE(error.find("temporary file"), std::string::npos) << error;

    if (geteuid() != 0) {  // permissions do not bind root
        chmod(folder_.c_str(), 0500);
        EXPECT_FALSE(hwsim::ReplaceFileAtomically(file_, "new", &error));
        chmod(folder_.c_str(), 0700);
        EXPECT_EQ(ReadFile(file_), old);
    }
}

struct OpenCase {
    const char* what;
    std::string content;  // written to the file unless `missing`
    bool missing;
    bool folder;
    DWORD error;
    const char* message;
};

TEST_F(DatabaseFile, ABadFileFailsTheOpeningWithOneLine)
{
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n";
    const OpenCase cases[] = {
        {"missing", "", true, false, ERROR_FILE_NOT_FOUND, ": No such file or directory\n"},
        {"a folder", "", true, true, ERROR_ACCESS_DENIED, ": a folder, not a registry export file\n"},
        {"not an export", "hello\r\n", false, false, ERROR_INVALID_DATA, ": line 1: not a registry export"},
        {"a bad line", v5 + "[HKEY_LOCAL_MACHINE\\SYSTEM]\r\n\"a\"=\"C:\\temp\"\r\n", false, false, ERROR_INVALID_DATA,
         ": line 4: unknown escape '\\t'"},
    };
    for (const OpenCase& c : cases) {
        unlink(file_.c_str());
        rmdir(file_.c_str());
        if (c.folder) {
            mkdir(file_.c_str(), 0700);
        } else if (!c.missing) {
            WriteFile(file_, c.content);
        }
        hwsim::Reset();
        hwsim::UseDatabaseFile(file_);
        ::testing::internal::CaptureStderr();
        HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
        const DWORD error = GetLastError();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(set, INVALID_HANDLE_VALUE) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_EQ(err.rfind("simulated Windows: " + file_ + c.message, 0), 0u) << c.what << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        if (!c.missing) {
            EXPECT_EQ(ReadFile(file_), c.content) << c.what;
        }
    }
    rmdir(file_.c_str());
}

TEST_F(DatabaseFile, TheRemovalPassRewritesTheFileOnceTheSetIsClosed)
{
    const std::string before = ReadFile(kSource + "/examples/workstation-enum.reg");
    const std::string after = ReadFile(kSource + "/examples/workstation-enum.after-usb-kivo.reg");
    ASSERT_FALSE(before.empty());
    ASSERT_FALSE(after.empty());
    hwsim::Reset();
    TakeNarrowCodePage();

    // Nothing matches: the file is not even rewritten.
    WriteFile(file_, before);
    const ino_t inode = Inode(file_);
    hwsim::UseDatabaseFile(file_);
    ::testing::internal::CaptureStdout();
    RemoveDevicesByHardwareId("USB\\VID_FFFF");
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(Inode(file_), inode);
    EXPECT_EQ(ReadFile(file_), before);

    // The disk fills up during the rewrite: said on stderr, old file kept.
    hwsim::UseDatabaseFile(file_);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    {
        FileSizeLimit limit(4096);
        RemoveDevicesByHardwareId("USB\\VID_1A2B");
    }
    ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(
        err.rfind("simulated Windows: " + file_ + ": the removals could not be saved, the file is unchanged: ", 0), 0u)
        << err;
    EXPECT_EQ(ReadFile(file_), before);
    EXPECT_EQ(Entries(folder_).size(), 1u);

    // Loaded again, the file owes nothing: a pass that removes nothing
    // leaves it as it is.
    hwsim::UseDatabaseFile(file_);
    ::testing::internal::CaptureStdout();
    RemoveDevicesByHardwareId("USB\\VID_FFFF");
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(Inode(file_), inode) << "rewritten after a pass that removed nothing";

    hwsim::UseDatabaseFile(file_);
    ::testing::internal::CaptureStdout();
    RemoveDevicesByHardwareId("USB\\VID_1A2B");
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ReadFile(file_) == after) << "the rewrite differs from the expected export";
}

TEST(SampleDatabase, IsTheExampleFileAsBuiltIn)
{
    EXPECT_TRUE(hwsim::SampleExport() == ReadFile(kSource + "/examples/sample-enum.reg"))
        << "the embedded sample is not examples/sample-enum.reg";
    EXPECT_EQ(hwsim::SampleDatabase().size(), 12u);
}

// The host program as a child, on a clean simulated machine plus `db`.
using hwtest::RemovalLine;

hwtest::Result RunOnDatabase(const std::string& db, const std::string& argument)
{
    hwtest::Result run = hwtest::RunProgram({argument}, {"HWPURGE_DEVICE_DB=" + db});
    EXPECT_EQ(run.status, 0) << run.err;
    return run;
}

// What follows the banner.
std::string Removals(const std::string& out)
{
    EXPECT_EQ(out.compare(0, hwtest::kBanner.size(), hwtest::kBanner), 0) << out;
    return out.size() < hwtest::kBanner.size() ? out : out.substr(hwtest::kBanner.size());
}

TEST_F(DatabaseFile, TheProgramRemovesFromACopyOfAnExport)
{
    const std::string before = ReadFile(kSource + "/examples/workstation-enum.reg");
    WriteFile(file_, before);
    hwtest::Result run = RunOnDatabase(file_, "usb\\vid_1a2b&pid_4100");
    EXPECT_EQ(Removals(run.out), RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200") +
                                     RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200&MI_00") +
                                     RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200&MI_01"));
    EXPECT_EQ(run.err, "");
    // Run again: the same file now holds the KIVO 720 only.
    run = RunOnDatabase(file_, "USB\\VID_1A2B");
    EXPECT_EQ(Removals(run.out), RemovalLine("USB\\VID_1A2B&PID_0720&REV_0110"));
    EXPECT_TRUE(ReadFile(file_) == ReadFile(kSource + "/examples/workstation-enum.after-usb-kivo.reg"));

    // A file a user broke: reported, nothing removed, the file untouched.
    const std::string broken = before.substr(0, before.size() / 4 * 2) + std::string("\x00", 1);
    WriteFile(file_, broken);
    run = RunOnDatabase(file_, "USB\\VID_1A2B");
    EXPECT_EQ(Removals(run.out), "");
    EXPECT_NE(run.err.find("simulated Windows: " + file_ + ": line "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("hwpurge: GetClassDevs(All Present / not Present Devices) failed with error 13"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(ReadFile(file_) == broken);
}

}  // namespace

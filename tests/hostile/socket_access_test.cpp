// Who may connect to the host's socket: its owner alone (mode 0600), or also one group given by
// --socket-group (mode 0660, that group); never anyone else, not even for a moment after the
// bind, since the socket is bound in a private folder and only then moved into place.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "listening_socket.h"
#include "loopback_tools.h"

namespace zntr::test {
namespace {

struct stat Stat(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// Whether a process of another user (uid `uid`, primary group `gid`, no other groups) can
// connect to the socket. Needs root to become that user.
bool OtherUserConnects(const std::string& path, uid_t uid, gid_t gid) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
            ::_exit(2);
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ::_exit(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "could not become the user";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

constexpr uid_t kOtherUser = 65534;  // nobody
constexpr gid_t kOtherGroup = 65533;

TEST(SocketAccess, TheSocketIsTheOwnersAloneAndNothingIsLeftBeside) {
    TempFolder folder;
    const std::string path = folder.path() + "/made/here/host.sock";
    {
        host::ListeningSocket socket(path, true);
        const struct stat info = Stat(path);
        EXPECT_TRUE(S_ISSOCK(info.st_mode));
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(info.st_uid, ::geteuid());
        EXPECT_EQ(Stat(folder.path() + "/made/here").st_mode & 07777, 0700u);
        EXPECT_EQ(FolderEntries(folder.path() + "/made/here"),
                  std::vector<std::string>{"host.sock"})
            << "the private folder the socket was bound in is gone";
        if (::geteuid() == 0) {
            EXPECT_FALSE(OtherUserConnects(path, kOtherUser, kOtherGroup));
        }
    }
    EXPECT_TRUE(FolderEntries(folder.path() + "/made/here").empty()) << "the socket goes too";
}

TEST(SocketAccess, AGroupGetsModeOwnershipAndAWayThroughTheFolders) {
    TempFolder folder;
    const gid_t group = ::geteuid() == 0 ? kOtherGroup : ::getegid();
    const std::string path = folder.path() + "/shared/host.sock";
    host::ListeningSocket socket(path, true, group);
    const struct stat info = Stat(path);
    EXPECT_EQ(info.st_mode & 07777, 0660u);
    EXPECT_EQ(info.st_gid, group);
    const struct stat made = Stat(folder.path() + "/shared");
    EXPECT_EQ(made.st_mode & 07777, 0710u) << "the group may pass, not list";
    EXPECT_EQ(made.st_gid, group);
    if (::geteuid() != 0) {
        GTEST_SKIP() << "connecting as another user needs root";
    }
    // The temporary folder itself is 0700 root; let others pass through it for this check.
    ASSERT_EQ(::chmod(folder.path().c_str(), 0711), 0);
    EXPECT_TRUE(OtherUserConnects(path, kOtherUser, group)) << "a member of the group connects";
    EXPECT_FALSE(OtherUserConnects(path, kOtherUser, kOtherGroup - 1)) << "others do not";
}

TEST(SocketAccess, GroupsAreFoundByNameOrNumberAndAnUnknownOneIsNamed) {
    const gid_t mine = ::getegid();
    EXPECT_EQ(host::ResolveGroup(std::to_string(mine)), mine);
    if (const group* entry = ::getgrgid(mine)) {
        EXPECT_EQ(host::ResolveGroup(entry->gr_name), mine);
    }
    for (const char* unknown : {"no-such-group-zntr", "", "12x", "4294967295"}) {
        SCOPED_TRACE(unknown);
        try {
            host::ResolveGroup(unknown);
            ADD_FAILURE() << "resolved";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), "unknown group '" + std::string(unknown) + "'");
        }
    }
}

TEST(SocketAccess, ZntrHostRefusesAnUnknownGroupClearly) {
    TempFolder folder;
    const std::string output = folder.path() + "/host.out";
    auto host = ChildProcess::Start(
        {ZNTR_BINARY, "host", "--socket", folder.path() + "/host.sock", "--state",
         folder.path() + "/state", "--socket-group", "no-such-group-zntr"},
        output);
    ASSERT_NE(host, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!host->Exited() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(host->InterruptAndWait(std::chrono::seconds(1)), 1);
    std::ifstream in(output);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("zntr host: cannot serve: unknown group 'no-such-group-zntr'"),
              std::string::npos)
        << text.str();
    EXPECT_FALSE(std::filesystem::exists(folder.path() + "/host.sock"));
}

}  // namespace
}  // namespace zntr::test

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

#include "listening_socket.h"
#include "world.h"

namespace zntr::test {
namespace {

namespace fs = std::filesystem;

unsigned Mode(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

gid_t Group(const std::string& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_gid;
}

// Whether a process of user `nobody` with primary group `gid` and no other groups connects.
// Needs root to become that user.
bool NobodyConnects(const std::string& path, gid_t gid) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(65534) != 0) {
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

constexpr gid_t kOtherGroup = 65533;

TEST(SocketAccess, TheSocketIsTheOwnersAloneAndNothingIsLeftBeside) {
    const TemporaryFolder folder;
    const std::string made = folder.path() / "made/here";
    {
        host::ListeningSocket socket(made + "/host.sock", true);
        EXPECT_EQ(Mode(made + "/host.sock"), 0600u);
        EXPECT_EQ(Mode(made), 0700u);
        EXPECT_EQ(std::distance(fs::directory_iterator(made), fs::directory_iterator()), 1)
            << "the private folder the socket was bound in is gone";
        if (::geteuid() == 0) {
            EXPECT_FALSE(NobodyConnects(made + "/host.sock", kOtherGroup));
        }
    }
    EXPECT_TRUE(fs::is_empty(made)) << "the socket goes too";
}

TEST(SocketAccess, AGroupGetsModeOwnershipAndAWayThroughTheFolders) {
    const TemporaryFolder folder;
    const gid_t group = ::geteuid() == 0 ? kOtherGroup : ::getegid();
    const std::string shared = folder.path() / "shared";
    host::ListeningSocket socket(shared + "/host.sock", true, group);
    EXPECT_EQ(Mode(shared + "/host.sock"), 0660u);
    EXPECT_EQ(Group(shared + "/host.sock"), group);
    EXPECT_EQ(Mode(shared), 0710u) << "the group may pass, not list";
    EXPECT_EQ(Group(shared), group);
    if (::geteuid() != 0) {
        GTEST_SKIP() << "connecting as another user needs root";
    }
    ASSERT_EQ(::chmod(folder.path().c_str(), 0711), 0);  // let others pass the test's folder
    EXPECT_TRUE(NobodyConnects(shared + "/host.sock", group)) << "a member of the group connects";
    EXPECT_FALSE(NobodyConnects(shared + "/host.sock", kOtherGroup - 1)) << "others do not";
}

TEST(SocketAccess, GroupsAreFoundByNameOrNumberAndAnUnknownOneIsRefusedClearly) {
    const gid_t mine = ::getegid();
    EXPECT_EQ(host::ResolveGroup(std::to_string(mine)), mine);
    if (const group* entry = ::getgrgid(mine)) {
        EXPECT_EQ(host::ResolveGroup(entry->gr_name), mine);
    }
    for (const char* unknown : {"no-such-group-zntr", "", "12x", "4294967295"}) {
        EXPECT_THROW(host::ResolveGroup(unknown), std::runtime_error) << unknown;
    }
    const TemporaryFolder folder;
    const CommandResult host =
        RunZntr({"host", "--socket", folder.path() / "host.sock", "--state",
                 folder.path() / "state", "--socket-group", "no-such-group-zntr"},
                folder.path());
    EXPECT_EQ(host.status, 1);
    EXPECT_NE(host.output.find("zntr host: cannot serve: unknown group 'no-such-group-zntr'"),
              std::string::npos)
        << host.output;
    EXPECT_FALSE(fs::exists(folder.path() / "host.sock"));
}

}  // namespace
}  // namespace zntr::test

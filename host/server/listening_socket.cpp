#include "listening_socket.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace zntr::host {
namespace {

std::runtime_error Failure(const std::string& what, int error) {
    return std::runtime_error(what + ": " + std::strerror(error));
}

// A folder that may be passed through by the socket's group: the group set to it and g+x.
void OpenFolderToGroup(const std::filesystem::path& folder, gid_t group) {
    if (::chown(folder.c_str(), static_cast<uid_t>(-1), group) != 0 ||
        ::chmod(folder.c_str(), 0710) != 0) {
        throw Failure("cannot let group " + std::to_string(group) + " reach " + folder.string(),
                      errno);
    }
}

// Makes each missing folder of the path with mode 0700 (0710 for the socket's group).
void MakeFolders(const std::filesystem::path& folder, std::optional<gid_t> group) {
    if (folder.empty() || std::filesystem::exists(folder)) {
        return;
    }
    MakeFolders(folder.parent_path(), group);
    if (::mkdir(folder.c_str(), 0700) != 0) {
        if (errno == EEXIST) {
            return;
        }
        throw Failure("cannot make the socket's folder " + folder.string(), errno);
    }
    if (group) {
        OpenFolderToGroup(folder, *group);
    }
}

// This user's folder, closed to others; with a group it may let that group pass (search only).
void CheckPrivate(const std::filesystem::path& folder, std::optional<gid_t> group) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        throw Failure("cannot examine " + folder.string(), errno);
    }
    const mode_t groupBits = info.st_mode & 0070;
    const bool groupOk = groupBits == 0 || (group && info.st_gid == *group && groupBits == 0010);
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 0007) != 0 ||
        !groupOk) {
        throw std::runtime_error("the socket's folder " + folder.string() +
                                 " must be a folder of this user with mode 0700" +
                                 (group ? " or 0710 and the socket's group" : ""));
    }
}

sockaddr_un Address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

constexpr std::size_t kMaxPath = sizeof(sockaddr_un{}.sun_path) - 1;

// A folder of mkdtemp's beside the socket, mode 0700, removed with what is left in it.
class StagingFolder {
  public:
    explicit StagingFolder(const std::filesystem::path& beside) {
        std::string pattern = (beside / ".zntr-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr) {
            throw Failure("cannot make a folder in " + beside.string(), errno);
        }
        path_ = name.data();
    }
    ~StagingFolder() {
        ::unlink(Socket().c_str());
        ::rmdir(path_.c_str());
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    std::string Socket() const { return path_ + "/s"; }

  private:
    std::string path_;
};

}  // namespace

gid_t ResolveGroup(const std::string& nameOrNumber) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    unsigned number = 0;
    const char* end = nameOrNumber.data() + nameOrNumber.size();
    const auto [stop, error] = std::from_chars(nameOrNumber.data(), end, number);
    const bool numeric = !nameOrNumber.empty() && error == std::errc() && stop == end;
    const int status =
        numeric
            ? ::getgrgid_r(static_cast<gid_t>(number), &entry, buffer.data(), buffer.size(), &found)
            : ::getgrnam_r(nameOrNumber.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (status != 0 || found == nullptr) {
        throw std::runtime_error("unknown group '" + nameOrNumber + "'");
    }
    return found->gr_gid;
}

ListeningSocket::ListeningSocket(const std::string& path, bool privateFolder,
                                 std::optional<gid_t> group)
    : path_(path) {
    if (path.empty() || path.size() > kMaxPath) {
        throw std::runtime_error("the socket path must have 1 to " + std::to_string(kMaxPath) +
                                 " characters: " + path);
    }
    const std::filesystem::path folder =
        std::filesystem::absolute(std::filesystem::path(path)).parent_path();
    MakeFolders(folder, group);
    if (group) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) == 0 && info.st_uid == ::geteuid() &&
            (info.st_gid != *group || (info.st_mode & 0010) == 0)) {
            OpenFolderToGroup(folder, *group);
        }
    }
    if (privateFolder) {
        CheckPrivate(folder, group);
    }
    const sockaddr_un address = Address(path);

    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            throw std::runtime_error(path + " exists and is not a socket");
        }
        // A socket that answers belongs to a running host; one that refuses was left behind.
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool answered =
            probe >= 0 &&
            ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
        if (probe >= 0) {
            ::close(probe);
        }
        if (answered) {
            throw std::runtime_error("a host is already serving at " + path);
        }
        ::unlink(path.c_str());
    }

    // The socket is bound in a folder only this user can enter, given its mode and group there,
    // and only then renamed into place: at no moment can another user connect to it. (A mode set
    // after binding at the final path would leave a window; a umask would touch every thread.)
    const StagingFolder staging(folder);
    const std::string staged = staging.Socket();
    if (staged.size() > kMaxPath) {
        throw std::runtime_error("the socket's folder is too long a path for a socket: " +
                                 folder.string());
    }
    const sockaddr_un stagedAddress = Address(staged);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
        throw Failure("cannot make a socket", errno);
    }
    const auto fail = [this](const std::string& what) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        return Failure(what, error);
    };
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&stagedAddress), sizeof(stagedAddress)) !=
        0) {
        throw fail("cannot listen at " + path);
    }
    if (group && ::chown(staged.c_str(), static_cast<uid_t>(-1), *group) != 0) {
        throw fail("cannot give the socket to group " + std::to_string(*group));
    }
    if (::chmod(staged.c_str(), group ? 0660 : 0600) != 0 || ::listen(fd_, 64) != 0) {
        throw fail("cannot listen at " + path);
    }
    struct stat bound {};
    // Never over a socket that a host starting at the same moment has put there since the probe.
    if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) {
            ::close(fd_);
            fd_ = -1;
            throw std::runtime_error("a host is already serving at " + path);
        }
        throw fail("cannot listen at " + path);
    }
    if (::stat(path.c_str(), &bound) != 0) {
        throw fail("cannot listen at " + path);
    }
    device_ = bound.st_dev;
    inode_ = bound.st_ino;
}

ListeningSocket::~ListeningSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    struct stat current {};
    if (::stat(path_.c_str(), &current) == 0 && current.st_dev == device_ &&
        current.st_ino == inode_) {
        ::unlink(path_.c_str());
    }
}

}  // namespace zntr::host

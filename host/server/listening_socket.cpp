#include "listening_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zntr::host {
namespace {

std::runtime_error Failure(const std::string& what, int error) {
    return std::runtime_error(what + ": " + std::strerror(error));
}

// Makes each missing folder of the path with mode 0700.
void MakeFolders(const std::filesystem::path& folder) {
    if (folder.empty() || std::filesystem::exists(folder)) {
        return;
    }
    MakeFolders(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw Failure("cannot make the socket's folder " + folder.string(), errno);
    }
}

void CheckPrivate(const std::filesystem::path& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        throw Failure("cannot examine " + folder.string(), errno);
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 0077) != 0) {
        throw std::runtime_error("the socket's folder " + folder.string() +
                                 " must be a folder of this user with mode 0700");
    }
}

sockaddr_un Address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

}  // namespace

ListeningSocket::ListeningSocket(const std::string& path, bool privateFolder) : path_(path) {
    if (path.empty() || path.size() >= sizeof(sockaddr_un{}.sun_path)) {
        throw std::runtime_error("the socket path must have 1 to " +
                                 std::to_string(sizeof(sockaddr_un{}.sun_path) - 1) +
                                 " characters: " + path);
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    MakeFolders(folder);
    if (privateFolder) {
        CheckPrivate(folder);
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

    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
        throw Failure("cannot make a socket", errno);
    }
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        const int error = errno;
        ::close(fd_);
        throw Failure("cannot listen at " + path, error);
    }
    // Only this user's programs may open the device.
    ::chmod(path.c_str(), 0600);
    struct stat bound {};
    if (::listen(fd_, 64) != 0 || ::stat(path.c_str(), &bound) != 0) {
        const int error = errno;
        ::close(fd_);
        ::unlink(path.c_str());
        throw Failure("cannot listen at " + path, error);
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

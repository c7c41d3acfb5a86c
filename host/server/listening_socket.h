// The host's listening Unix stream socket at a path: the folder made private, a socket left by
// a host that has ended replaced, a running host's socket never taken over, and the socket open
// to its owner alone (or to one group) from the moment it exists.
#pragma once

#include <sys/types.h>

#include <optional>
#include <stdexcept>
#include <string>

namespace zntr::host {

// The group named by a name or a number, for --socket-group. Throws std::runtime_error naming
// the group when there is no such group.
gid_t ResolveGroup(const std::string& nameOrNumber);

class ListeningSocket {
  public:
    // Listens at path. Missing folders on the way are made with mode 0700; with privateFolder
    // the socket's folder must also belong to this user and be closed to everyone else (the
    // default folder under /tmp is shared ground). The socket gets mode 0600; with a group it
    // gets mode 0660 and that group, and the folders the host makes (and the socket's own
    // folder, when it is this user's) let the group pass (g+x, group set to it) but not list.
    // Throws std::runtime_error with the reason: another host serving there, a path too long
    // for a socket, a file in the way, a folder that is not private, a group the socket cannot
    // be given to.
    ListeningSocket(const std::string& path, bool privateFolder,
                    std::optional<gid_t> group = std::nullopt);
    // Closes the socket and removes its file, unless another socket has replaced it since.
    ~ListeningSocket();
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace zntr::host

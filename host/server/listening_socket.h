// The host's listening Unix stream socket at a path: the folder made private, a socket left by
// a host that has ended replaced, and a running host's socket never taken over.
#pragma once

#include <sys/types.h>

#include <stdexcept>
#include <string>

namespace zntr::host {

class ListeningSocket {
  public:
    // Listens at path. Missing folders on the way are made with mode 0700; with privateFolder
    // the socket's folder must also belong to this user and be closed to everyone else (the
    // default folder under /tmp is shared ground). Throws std::runtime_error with the reason:
    // another host serving there, a path too long for a socket, a file in the way, a folder
    // that is not private.
    ListeningSocket(const std::string& path, bool privateFolder);
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

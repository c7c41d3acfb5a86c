#include "scripted_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "wait_until.h"

namespace zntr::test {

namespace {

// The bytes the client has not read yet, from its end's line in /proc/net/tcp; -1 when that end
// is gone.
long ClientUnread(int clientPort, int serverPort) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        const auto port = [](const std::string& endpoint) {
            return std::stoi(endpoint.substr(endpoint.find(':') + 1), nullptr, 16);
        };
        if (port(local) == clientPort && port(remote) == serverPort) {
            return std::stol(queues.substr(queues.find(':') + 1), nullptr, 16);
        }
    }
    return -1;
}

// Whether every byte sent on the descriptor has reached the client (none unacknowledged).
bool Delivered(int fd) {
    int unsent = 0;
    return ::ioctl(fd, SIOCOUTQ, &unsent) != 0 || unsent == 0;
}

int LocalPort(int fd, bool peer) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    const int result = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
                            : ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return result == 0 ? ntohs(address.sin_port) : 0;
}

}  // namespace

struct ScriptedPeer::State {
    struct Connection {
        int fd;
        int clientPort;
        std::string received;
        std::size_t nextPart = 0;
        bool open = true;
        bool shut = false;
    };

    PeerScript script;
    int listener = -1;
    int filler = -1;
    int port = 0;
    int wake[2] = {-1, -1};
    mutable std::mutex mutex;
    std::vector<Connection> connections;
    bool listening = false;
    bool released = false;
    bool stopping = false;
    std::thread thread;

    bool Took(const Connection& c) const {
        return Delivered(c.fd) && ClientUnread(c.clientPort, port) <= 0;
    }
    void Wake() { [[maybe_unused]] const auto ignored = ::write(wake[1], "x", 1); }

    // Sends the next part when the answer is due and the client took the one before; whether a
    // part is still waiting for the client.
    bool Advance(Connection& c) {
        const bool due = !script.afterRequest || c.received.find("\r\n\r\n") != std::string::npos;
        if (!c.open || c.shut || !due || (script.hold && !released)) {
            return false;
        }
        if (c.nextPart < script.parts.size()) {
            if (c.nextPart > 0 && !Took(c)) {
                return true;
            }
            const std::string& part = script.parts[c.nextPart++];
            ::send(c.fd, part.data(), part.size(), MSG_NOSIGNAL);
            return c.nextPart < script.parts.size();
        }
        if (script.closeAfter) {
            ::shutdown(c.fd, SHUT_WR);
            c.shut = true;
        }
        return false;
    }

    void Run() {
        bool waiting = false;
        for (;;) {
            std::vector<pollfd> ready{{wake[0], POLLIN, 0}, {-1, POLLIN, 0}};
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (stopping) {
                    return;
                }
                ready[1].fd = listening ? listener : -1;
                for (const Connection& c : connections) {
                    ready.push_back({c.open ? c.fd : -1, POLLIN, 0});
                }
            }
            ::poll(ready.data(), ready.size(), waiting ? 2 : -1);
            char chunk[4096];
            if ((ready[0].revents & POLLIN) != 0) {
                [[maybe_unused]] const auto ignored = ::read(wake[0], chunk, sizeof(chunk));
            }
            std::lock_guard<std::mutex> lock(mutex);
            const std::size_t next = 2;
            if ((ready[1].revents & POLLIN) != 0) {
                const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    connections.push_back({fd, LocalPort(fd, true), {}});
                }
            }
            waiting = false;
            for (std::size_t i = 0; i < connections.size(); ++i) {
                Connection& c = connections[i];
                if (next + i < ready.size() &&
                    (ready[next + i].revents & (POLLIN | POLLHUP)) != 0) {
                    const ssize_t n = ::recv(c.fd, chunk, sizeof(chunk), 0);
                    c.open = n > 0;
                    c.received.append(chunk, n > 0 ? static_cast<std::size_t>(n) : 0);
                }
                waiting = Advance(c) || waiting;
            }
        }
    }
};

ScriptedPeer::ScriptedPeer(PeerScript script, Door door) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.script = std::move(script);
    s.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s.listener < 0 || ::pipe2(s.wake, O_CLOEXEC) != 0 ||
        ::bind(s.listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        throw std::runtime_error("the scripted peer cannot bind on loopback");
    }
    s.port = LocalPort(s.listener, false);
    if (door == Door::kAccepting) {
        Listen();
    } else if (door == Door::kHanging) {
        // One connection of its own, never accepted, fills an accept queue of length 0.
        ::listen(s.listener, 0);
        address.sin_port = htons(static_cast<std::uint16_t>(s.port));
        s.filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(s.filler, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    }
    s.thread = std::thread([&s] { s.Run(); });
}

ScriptedPeer::~ScriptedPeer() {
    State& s = *state_;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stopping = true;
    }
    s.Wake();
    s.thread.join();
    for (int fd : {s.listener, s.filler, s.wake[0], s.wake[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    for (const State::Connection& c : s.connections) {
        ::close(c.fd);
    }
}

int ScriptedPeer::Port() const {
    return state_->port;
}

void ScriptedPeer::Listen() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->listening = ::listen(state_->listener, 16) == 0;
    state_->Wake();
}

void ScriptedPeer::Release() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->released = true;
    state_->Wake();
}

bool ScriptedPeer::Send(const std::string& bytes) {
    std::vector<State::Connection> open;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        for (const State::Connection& c : state_->connections) {
            if (c.open && ::send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0) {
                open.push_back(c);
            }
        }
    }
    return WaitUntil(
        [&] {
            for (const State::Connection& c : open) {
                if (!state_->Took(c)) {
                    return false;
                }
            }
            return true;
        },
        std::chrono::seconds(30), std::chrono::milliseconds(1));
}

bool ScriptedPeer::Deliver(const std::string& bytes) {
    std::vector<int> open;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        for (const State::Connection& c : state_->connections) {
            if (c.open && ::send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0) {
                open.push_back(c.fd);
            }
        }
    }
    return WaitUntil(
        [&] {
            for (int fd : open) {
                if (!Delivered(fd)) {
                    return false;
                }
            }
            return true;
        },
        std::chrono::seconds(30), std::chrono::milliseconds(1));
}

int ScriptedPeer::Connections() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<int>(state_->connections.size());
}

int ScriptedPeer::OpenConnections() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    int open = 0;
    for (const State::Connection& c : state_->connections) {
        open += c.open ? 1 : 0;
    }
    return open;
}

std::vector<std::string> ScriptedPeer::Received() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<std::string> received;
    for (const State::Connection& c : state_->connections) {
        received.push_back(c.received);
    }
    return received;
}

}  // namespace zntr::test

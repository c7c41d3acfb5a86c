#include "scripted_peer.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "wait_until.h"

namespace zntr::test {

namespace {

int PortOf(int fd, bool peer) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    const auto name = reinterpret_cast<sockaddr*>(&address);
    return (peer ? ::getpeername(fd, name, &length) : ::getsockname(fd, name, &length)) == 0
               ? ntohs(address.sin_port)
               : 0;
}

// Whether the client has every byte sent (none unacknowledged) and, when `read`, has read them
// (its end's receive queue in /proc/net/tcp is empty, or its end is gone).
bool Taken(int fd, int serverPort, bool read) {
    int unsent = 0;
    if (::ioctl(fd, SIOCOUTQ, &unsent) == 0 && unsent != 0) {
        return false;
    }
    std::ifstream table("/proc/net/tcp");
    std::string line, slot, local, remote, state, queues;
    const auto port = [](const std::string& end) {
        return std::stoi(end.substr(end.find(':') + 1), nullptr, 16);
    };
    for (std::getline(table, line); read && std::getline(table, line);) {
        std::istringstream(line) >> slot >> local >> remote >> state >> queues;
        if (port(local) == PortOf(fd, true) && port(remote) == serverPort) {
            return std::stol(queues.substr(queues.find(':') + 1), nullptr, 16) == 0;
        }
    }
    return true;
}

}  // namespace

struct ScriptedPeer::State {
    struct Connection {
        int fd;
        std::string received;
        std::size_t next = 0;  // the next part to send
        bool open = true;
    };
    PeerScript script;
    int listener = -1;
    int filler = -1;
    int port = 0;
    mutable std::mutex mutex;
    std::vector<Connection> connections;
    bool listening = false;
    bool released = false;
    bool stopping = false;
    std::thread thread;

    // Sends the next part when the answer is due and the client took the one before, and shuts
    // the connection down after the last.
    void Advance(Connection& c) {
        const bool due = !script.afterRequest || c.received.find("\r\n\r\n") != std::string::npos;
        if (!c.open || !due || (script.hold && !released) || c.next > script.parts.size()) {
            return;
        }
        if (c.next < script.parts.size() && (c.next == 0 || Taken(c.fd, port, true))) {
            const std::string& part = script.parts[c.next++];
            ::send(c.fd, part.data(), part.size(), MSG_NOSIGNAL);
        }
        if (c.next == script.parts.size() && script.closeAfter) {
            ::shutdown(c.fd, SHUT_WR);
            ++c.next;
        }
    }

    // Polls every 2 ms: accepts, records what the clients send, answers.
    void Run() {
        for (std::lock_guard<std::mutex> lock(mutex); !stopping; std::this_thread::yield()) {
            std::vector<pollfd> ready{{listening ? listener : -1, POLLIN, 0}};
            for (const Connection& c : connections) {
                ready.push_back({c.open ? c.fd : -1, POLLIN, 0});
            }
            mutex.unlock();
            ::poll(ready.data(), ready.size(), 2);
            mutex.lock();
            if ((ready[0].revents & POLLIN) != 0) {
                const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    connections.push_back({fd, {}});
                }
            }
            for (std::size_t i = 0; i < connections.size(); ++i) {
                Connection& c = connections[i];
                char chunk[4096];
                if (i + 1 < ready.size() && (ready[i + 1].revents & (POLLIN | POLLHUP)) != 0) {
                    const ssize_t n = ::recv(c.fd, chunk, sizeof(chunk), 0);
                    c.open = n > 0;
                    c.received.append(chunk, n > 0 ? static_cast<std::size_t>(n) : 0);
                }
                Advance(c);
            }
        }
    }

    bool Put(const std::string& bytes, bool untilRead) {
        std::vector<int> open;
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (const Connection& c : connections) {
                if (c.open && ::send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0) {
                    open.push_back(c.fd);
                }
            }
        }
        return WaitUntil(
            [&] {
                return std::all_of(open.begin(), open.end(),
                                   [&](int fd) { return Taken(fd, port, untilRead); });
            },
            std::chrono::seconds(30), std::chrono::milliseconds(1));
    }
};

ScriptedPeer::ScriptedPeer(PeerScript script, Door door) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.script = std::move(script);
    s.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s.listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        throw std::runtime_error("the scripted peer cannot bind on loopback");
    }
    s.port = PortOf(s.listener, false);
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
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stopping = true;
    }
    state_->thread.join();
    for (const State::Connection& c : state_->connections) {
        ::close(c.fd);
    }
    ::close(state_->listener);
    if (state_->filler >= 0) {
        ::close(state_->filler);
    }
}

int ScriptedPeer::Port() const {
    return state_->port;
}

void ScriptedPeer::Listen() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->listening = ::listen(state_->listener, 16) == 0;
}

void ScriptedPeer::Release() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->released = true;
}

bool ScriptedPeer::Send(const std::string& bytes) {
    return state_->Put(bytes, true);
}

bool ScriptedPeer::Deliver(const std::string& bytes) {
    return state_->Put(bytes, false);
}

int ScriptedPeer::Connections() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<int>(state_->connections.size());
}

int ScriptedPeer::OpenConnections() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<int>(std::count_if(state_->connections.begin(), state_->connections.end(),
                                          [](const State::Connection& c) { return c.open; }));
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

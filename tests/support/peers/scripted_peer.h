// A TCP peer on 127.0.0.1 in the place of the hotspot's status page or its NMEA stream: it
// answers each connection with the parts it was given, one receive of the client per part, and
// records what each connection sent. The client's end of a loopback connection shows in
// /proc/net/tcp, so the peer waits until the client has taken one part (its receive queue is
// empty) before it sends the next: which bytes a receive of the driver finds never depends on
// timing. POSIX inside, no socket type in the interface, so that tests which include the Winsock
// stand-in can use it.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zntr::test {

struct PeerScript {
    // The answer to each connection, each part one receive of the client. The status page's
    // answer follows the request (the bytes up to the first empty line); a stream's follows the
    // accept.
    std::vector<std::string> parts;
    bool afterRequest = true;
    // Held answers wait until Release(); then the peer shuts its side down after the last part.
    bool hold = false;
    bool closeAfter = true;
};

class ScriptedPeer {
  public:
    // How connects to the peer's port fare: accepted; refused (the port is bound but nobody
    // listens, until Listen()); or left hanging (the accept queue is full, so a connect waits
    // for an answer to its handshake that never comes).
    enum class Door { kAccepting, kRefusing, kHanging };

    explicit ScriptedPeer(PeerScript script = {}, Door door = Door::kAccepting);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int Port() const;
    void Listen();
    void Release();
    // Sends the bytes on every open connection; Send returns once each client has taken them
    // all, Deliver once they wait in each client's receive queue. False after 30 s.
    bool Send(const std::string& bytes);
    bool Deliver(const std::string& bytes);

    int Connections() const;      // accepted so far
    int OpenConnections() const;  // accepted and not closed by the client
    // What each connection sent, in the order of the connections.
    std::vector<std::string> Received() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zntr::test

#pragma once
// BridgeServer: the process's one listening end of the script bridge.
//
// The socket lives in a private folder of this process (mode 0700) that is
// added to the web-process sandbox. Every web process is handed the socket
// path and a random token of its own (IssueToken) as it starts; it connects
// once per page and says hello with the page id and its token. The id matches
// exactly one registered page, which takes the connection over. The token
// keeps other processes of the user from taking a page's place, and tells
// the order in which the web processes started: a connection replaces a
// page's live one only when it comes from a web process started after the
// holder's, or when the holder is gone (it died, or a navigation moved the
// page into a new process).
//
// Hellos are read apart from the channel, a few bytes at a time as they come,
// from the main loop and never waiting for more: any process of the user can
// connect, and one that sends part of a hello and then nothing must not hold
// up the window. A connection whose hello is not whole within HelloDeadlineMs
// is closed, and at most MaxPendingHellos wait at once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ScriptChannel.h"

namespace platform {

// The connection that serves a page, as the server set it up.
struct BridgeConnection {
    std::shared_ptr<ScriptChannel> channel;  // null or closed when none
    size_t generation = 0;                   // start order of its web process
    int processId = 0;
};

// What the server needs of a page that web processes may connect for.
class BridgePage {
public:
    virtual ~BridgePage();
    // The id the page's web process says hello with.
    virtual uint64_t PageId() const = 0;
    // Answers a request from the page.
    virtual void Serve(const ScriptFrame& request, ScriptFrame& reply) = 0;
    // The page was heard from: a frame arrived, or its connection was taken over.
    virtual void Heard() = 0;

    BridgeConnection connection;
};

class BridgeServer {
public:
    // A web process connects and says hello at once; this is ample for it
    // even on a loaded machine, and short for a connection that never does.
    static constexpr int HelloDeadlineMs = 5000;
    // Connections waiting for their hello; more are refused until some end.
    static constexpr size_t MaxPendingHellos = 64;

    // Made on first use (stale folders of copies that were killed are removed
    // then); lives until exit, which removes its socket and folder.
    static BridgeServer& Get();

    // The socket web processes connect to; empty without a private folder.
    const std::string& SocketPath() const { return socketPath; }
    // The private folder that holds the socket; empty when none could be made.
    const std::string& Folder() const { return folder; }

    // A new token for a web process about to start, as hex text to hand over
    // with the socket path. Empty when no random bytes were to be had: that
    // process's pages get no bridge.
    std::string IssueToken();

    // Pages that connections may serve. A page is removed before it goes.
    void AddPage(const std::shared_ptr<BridgePage>& page);
    void RemovePage(const BridgePage* page);

private:
    struct PendingHello;

    BridgeServer();
    // Takes every connection waiting on the listening socket.
    void AcceptAll();
    // Reads what has come of a pending hello; adopts the connection once the
    // hello is whole, closes it when it is malformed or the peer left.
    void ReadHello(PendingHello* waiting);
    void DropHello(PendingHello* waiting, bool closeSocket);
    // Hands the connection to the page its hello names.
    void Adopt(int fd, int processId, const ScriptFrame& hello);
    // Start order of the web process that was given token, or -1 for none.
    long Generation(const std::string& token) const;

    std::string folder;
    std::string socketPath;
    // One per web process started, in order.
    std::vector<std::string> tokens;
    int listenFd = -1;
    std::vector<std::weak_ptr<BridgePage>> pages;
    std::vector<std::shared_ptr<ScriptChannel>> connections;
    std::vector<std::unique_ptr<PendingHello>> pendingHellos;
};

}  // namespace platform

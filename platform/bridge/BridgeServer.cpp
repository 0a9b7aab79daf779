#include "BridgeServer.h"

#include <glib-unix.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "BridgeFolder.h"

namespace platform {

BridgePage::~BridgePage() = default;

BridgeServer& BridgeServer::Get() {
    static BridgeServer* server = new BridgeServer;  // lives until exit; the socket is removed atexit
    return *server;
}

BridgeServer::BridgeServer() {
    // A private folder for the socket: only this user can reach it.
    const char* runtime = g_getenv("XDG_RUNTIME_DIR");
    gchar* made = nullptr;
    // Copies that were killed left their folders behind.
    if (runtime) RemoveStaleBridgeFolders(runtime);
    RemoveStaleBridgeFolders(g_get_tmp_dir());
    if (runtime && g_file_test(runtime, G_FILE_TEST_IS_DIR)) {
        gchar* pattern = g_build_filename(runtime, "korvo-bridge-XXXXXX", nullptr);
        made = g_mkdtemp_full(pattern, 0700);
        if (!made) g_free(pattern);
    }
    if (!made) made = g_dir_make_tmp("korvo-bridge-XXXXXX", nullptr);
    if (made) {
        g_chmod(made, 0700);
        folder = made;
        g_free(made);
        socketPath = folder + "/bridge";
    }
    if (socketPath.empty()) {
        g_warning("Script bridge: cannot make a private folder for the socket; pages get no bridge");
        return;
    }
    listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    bool fits = socketPath.size() < sizeof address.sun_path;
    if (fits) std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (listenFd < 0 || !fits ||
        bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd, 16) != 0) {
        g_warning("Script bridge: cannot listen on %s: %s; pages get no bridge", socketPath.c_str(),
                  fits ? g_strerror(errno) : "path too long");
        if (listenFd >= 0) close(listenFd);
        listenFd = -1;
        return;
    }
    g_unix_fd_add(
        listenFd, G_IO_IN,
        [](gint, GIOCondition, gpointer self) -> gboolean {
            static_cast<BridgeServer*>(self)->AcceptAll();
            return G_SOURCE_CONTINUE;
        },
        this);
    static std::string removeSocket, removeFolder;
    removeSocket = socketPath;
    removeFolder = folder;
    atexit([] {
        g_unlink(removeSocket.c_str());
        g_rmdir(removeFolder.c_str());
    });
}

std::string BridgeServer::IssueToken() {
    std::string token(kTokenSize, '\0');
    if (getrandom(token.data(), token.size(), 0) != static_cast<ssize_t>(token.size())) {
        g_warning("Script bridge: no random token for a new web process; its pages get no bridge");
        token.clear();
    }
    tokens.push_back(token);
    std::string hex;
    for (unsigned char byte : token) {
        char digits[3];
        g_snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}

void BridgeServer::AddPage(const std::shared_ptr<BridgePage>& page) { pages.push_back(page); }

void BridgeServer::RemovePage(const BridgePage* page) {
    pages.erase(std::remove_if(pages.begin(), pages.end(),
                               [page](const std::weak_ptr<BridgePage>& entry) {
                                   auto held = entry.lock();
                                   return !held || held.get() == page;
                               }),
                pages.end());
}

long BridgeServer::Generation(const std::string& token) const {
    if (token.size() != kTokenSize) return -1;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string& issued = tokens[i];
        if (issued.size() != kTokenSize) continue;
        // Compared in constant time: the token is a secret.
        unsigned char difference = 0;
        for (size_t k = 0; k < kTokenSize; ++k) difference |= issued[k] ^ token[k];
        if (difference == 0) return static_cast<long>(i);
    }
    return -1;
}

// A connection that has not said hello yet.
struct BridgeServer::PendingHello {
    int fd = -1;
    int processId = 0;
    std::string bytes;  // of the hello so far, never more
    unsigned watch = 0;
    unsigned timer = 0;
};

namespace {

// Size field, kind, id, page id and token: every hello has this many bytes.
constexpr size_t HelloBytes = kFrameSizeField + kFrameHeaderSize + sizeof(uint64_t) + kTokenSize;

}  // namespace

void BridgeServer::AcceptAll() {
    for (;;) {
        int client = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) break;
        // Only our own user's processes can reach the folder; check anyway.
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != getuid()) {
            g_warning("Script bridge: refused a connection from another user");
            close(client);
            continue;
        }
        if (pendingHellos.size() >= MaxPendingHellos) {
            g_warning("Script bridge: refused a connection from process %d: %zu others have not "
                      "said hello yet",
                      peer.pid, pendingHellos.size());
            close(client);
            continue;
        }
        auto waiting = std::make_unique<PendingHello>();
        waiting->fd = client;
        waiting->processId = peer.pid;
        PendingHello* raw = waiting.get();
        pendingHellos.push_back(std::move(waiting));
        raw->watch = g_unix_fd_add(
            client, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
            [](gint, GIOCondition, gpointer data) -> gboolean {
                BridgeServer::Get().ReadHello(static_cast<PendingHello*>(data));
                return G_SOURCE_CONTINUE;  // ReadHello removes the watch when it is done
            },
            raw);
        raw->timer = g_timeout_add(
            HelloDeadlineMs,
            [](gpointer data) -> gboolean {
                auto* waiting = static_cast<PendingHello*>(data);
                g_warning("Script bridge: process %d connected but said no hello within %d ms; "
                          "closing",
                          waiting->processId, HelloDeadlineMs);
                waiting->timer = 0;  // this source ends with the return
                BridgeServer::Get().DropHello(waiting, true);
                return G_SOURCE_REMOVE;
            },
            raw);
    }
}

void BridgeServer::DropHello(PendingHello* waiting, bool closeSocket) {
    if (waiting->watch) g_source_remove(waiting->watch);
    if (waiting->timer) g_source_remove(waiting->timer);
    if (closeSocket) close(waiting->fd);
    pendingHellos.erase(std::remove_if(pendingHellos.begin(), pendingHellos.end(),
                                       [waiting](const std::unique_ptr<PendingHello>& entry) {
                                           return entry.get() == waiting;
                                       }),
                        pendingHellos.end());
}

void BridgeServer::ReadHello(PendingHello* waiting) {
    // Only the hello's bytes: what follows belongs to the channel.
    char buffer[HelloBytes];
    ssize_t got = recv(waiting->fd, buffer, HelloBytes - waiting->bytes.size(), MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (got <= 0) {
        DropHello(waiting, true);  // the peer left before its hello was whole
        return;
    }
    waiting->bytes.append(buffer, static_cast<size_t>(got));
    const auto* data = reinterpret_cast<const uint8_t*>(waiting->bytes.data());
    if (waiting->bytes.size() >= kFrameSizeField) {
        uint32_t size = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                        uint32_t(data[3]) << 24;
        if (size != HelloBytes - kFrameSizeField) {
            g_warning("Script bridge: process %d began with something else than a hello; closing",
                      waiting->processId);
            DropHello(waiting, true);
            return;
        }
    }
    if (waiting->bytes.size() < HelloBytes) return;
    ScriptFrame hello;
    bool decoded = DecodeFrame(data + kFrameSizeField, HelloBytes - kFrameSizeField, hello) &&
                   hello.kind == FrameKind::Hello;
    int fd = waiting->fd, processId = waiting->processId;
    DropHello(waiting, !decoded);
    if (!decoded) {
        g_warning("Script bridge: process %d sent a malformed hello; closing", processId);
        return;
    }
    Adopt(fd, processId, hello);
}

void BridgeServer::Adopt(int fd, int processId, const ScriptFrame& hello) {
    long generation = Generation(hello.token);
    if (generation < 0) {
        g_warning("Script bridge: refused a hello without a valid token (process %d)", processId);
        close(fd);
        return;
    }
    std::shared_ptr<BridgePage> page;
    for (const auto& entry : pages) {
        auto candidate = entry.lock();
        if (candidate && candidate->PageId() == hello.pageId) {
            page = candidate;
            break;
        }
    }
    if (!page) {
        g_warning("Script bridge: hello from page %llu, which belongs to no view; closing",
                  static_cast<unsigned long long>(hello.pageId));
        close(fd);
        return;
    }
    BridgeConnection& held = page->connection;
    if (held.channel && held.channel->IsOpen()) {
        // Only a web process started later may take a live page's place, or
        // any one when the holder is gone.
        bool holderAlive = kill(held.processId, 0) == 0 || errno != ESRCH;
        if (static_cast<size_t>(generation) <= held.generation && holderAlive) {
            g_warning("Script bridge: refused a second connection for page %llu from process %d; "
                      "page keeps its bridge",
                      static_cast<unsigned long long>(hello.pageId), processId);
            close(fd);
            return;
        }
        held.channel->Close();
    }
    auto channel = ScriptChannel::Create(fd);
    std::weak_ptr<BridgePage> served = page;
    std::weak_ptr<ScriptChannel> weakChannel = channel;
    channel->serve = [served](const ScriptFrame& request, ScriptFrame& reply) {
        if (auto page = served.lock()) page->Serve(request, reply);
        else if (request.kind == FrameKind::DocumentQuery) reply.values[0] = ScriptValue::Int32(0);
    };
    channel->onActivity = [served] {
        if (auto page = served.lock()) page->Heard();
    };
    channel->onClosed = [this, weakChannel] {
        auto closing = weakChannel.lock();
        connections.erase(std::remove(connections.begin(), connections.end(), closing),
                          connections.end());
    };
    held.channel = channel;
    held.generation = static_cast<size_t>(generation);
    held.processId = processId;
    connections.push_back(channel);
    page->Heard();
    channel->StartWatch();
}

}  // namespace platform

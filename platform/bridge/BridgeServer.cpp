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

void BridgeServer::AcceptAll() {
    for (;;) {
        int client = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) break;
        // Only our own user's processes can reach the folder; check anyway.
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != getuid()) {
            g_warning("Script bridge: refused a connection from another user");
            close(client);
            continue;
        }
        Adopt(client, peer.pid);
    }
}

void BridgeServer::Adopt(int fd, int processId) {
    auto channel = ScriptChannel::Create(fd);
    // The page this connection serves, known once the hello arrives.
    auto served = std::make_shared<std::weak_ptr<BridgePage>>();
    std::weak_ptr<ScriptChannel> weakChannel = channel;
    channel->notify = [this, served, weakChannel, processId](const ScriptFrame& hello) {
        auto channel = weakChannel.lock();
        if (!channel || !served->expired()) return;
        long generation = Generation(hello.token);
        if (generation < 0) {
            g_warning("Script bridge: refused a hello without a valid token (process %d)", processId);
            channel->Close();
            return;
        }
        for (const auto& entry : pages) {
            auto page = entry.lock();
            if (!page || page->PageId() != hello.pageId) continue;
            BridgeConnection& held = page->connection;
            if (held.channel && held.channel != channel && held.channel->IsOpen()) {
                // Only a web process started later may take a live page's
                // place, or any one when the holder is gone.
                bool holderAlive = kill(held.processId, 0) == 0 || errno != ESRCH;
                if (static_cast<size_t>(generation) <= held.generation && holderAlive) {
                    g_warning("Script bridge: refused a second connection for page %llu from "
                              "process %d; page keeps its bridge",
                              static_cast<unsigned long long>(hello.pageId), processId);
                    channel->Close();
                    return;
                }
                held.channel->Close();
            }
            held.channel = channel;
            held.generation = static_cast<size_t>(generation);
            held.processId = processId;
            page->Heard();
            *served = page;
            return;
        }
        g_warning("Script bridge: hello from page %llu, which belongs to no view; closing",
                  static_cast<unsigned long long>(hello.pageId));
        channel->Close();
    };
    channel->serve = [served](const ScriptFrame& request, ScriptFrame& reply) {
        if (auto page = served->lock()) page->Serve(request, reply);
        else if (request.kind == FrameKind::DocumentQuery)
            reply.values[0] = ScriptValue::Int32(0);
    };
    channel->onActivity = [served] {
        if (auto page = served->lock()) page->Heard();
    };
    channel->onClosed = [this, weakChannel] {
        auto closing = weakChannel.lock();
        connections.erase(std::remove(connections.begin(), connections.end(), closing),
                          connections.end());
    };
    connections.push_back(channel);
    channel->StartWatch();
}

}  // namespace platform

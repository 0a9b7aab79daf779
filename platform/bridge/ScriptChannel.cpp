#include "ScriptChannel.h"

#include <errno.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace platform {

namespace {

int RemainingMs(int64_t deadlineUs) {
    if (deadlineUs < 0) return -1;
    int64_t left = deadlineUs - g_get_monotonic_time();
    if (left <= 0) return 0;
    return static_cast<int>(std::min<int64_t>((left + 999) / 1000, 1 << 30));
}

}  // namespace

std::shared_ptr<ScriptChannel> ScriptChannel::Create(int fd) {
    return std::shared_ptr<ScriptChannel>(new ScriptChannel(fd));
}

ScriptChannel::ScriptChannel(int socket) : fd(socket) {
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

ScriptChannel::~ScriptChannel() {
    onClosed = nullptr;  // nobody is left to tell
    Close();
}

void ScriptChannel::StartWatch() {
    if (fd < 0 || watchId != 0) return;
    watchId = g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                            reinterpret_cast<GUnixFDSourceFunc>(&ScriptChannel::OnReadable), this);
}

void ScriptChannel::JoinGroup(const std::shared_ptr<ScriptChannelGroup>& g) {
    group = g;
    auto& members = *group;
    members.erase(std::remove_if(members.begin(), members.end(),
                                 [](const std::weak_ptr<ScriptChannel>& m) { return m.expired(); }),
                  members.end());
    members.push_back(weak_from_this());
}

void ScriptChannel::Close() {
    if (watchId != 0) {
        g_source_remove(watchId);
        watchId = 0;
    }
    if (drainId != 0) {
        g_source_remove(drainId);
        drainId = 0;
    }
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    inbox.clear();
    if (!closedReported) {
        closedReported = true;
        if (onClosed) {
            auto call = std::move(onClosed);
            call();
        }
    }
}

bool ScriptChannel::ReadExact(uint8_t* buffer, size_t size, int64_t deadlineUs, bool started) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::recv(fd, buffer + done, size - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
            started = true;
            continue;
        }
        if (n == 0) return false;  // end of file
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd p{fd, POLLIN, 0};
        int timeout = RemainingMs(deadlineUs);
        if (!started && timeout == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        int r = ::poll(&p, 1, timeout);
        if (r < 0 && errno != EINTR) return false;
        if (r == 0) {
            errno = ETIMEDOUT;
            return false;
        }
    }
    return true;
}

ScriptChannel::ReadResult ScriptChannel::ReadFrame(ScriptFrame& frame, int64_t deadlineUs) {
    if (fd < 0) return ReadResult::Failed;
    uint8_t sizeBytes[kFrameSizeField];
    errno = 0;
    // Before its first byte, running out of time just means nothing came yet.
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, RemainingMs(deadlineUs));
    } while (r < 0 && errno == EINTR);
    if (r == 0) return ReadResult::Nothing;
    if (r < 0) {
        g_warning("Script channel: poll failed: %s", g_strerror(errno));
        Close();
        return ReadResult::Failed;
    }
    // Once a frame has begun, the rest must follow: a peer that stops
    // mid-frame has lost step with us. The bound for the rest is generous.
    int64_t restDeadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    if (deadlineUs >= 0) restDeadline = std::max(restDeadline, deadlineUs);
    if (!ReadExact(sizeBytes, sizeof sizeBytes, restDeadline, false)) {
        if (errno != 0 && errno != ETIMEDOUT)
            g_warning("Script channel: read failed: %s", g_strerror(errno));
        Close();
        return ReadResult::Failed;
    }
    uint32_t size = uint32_t(sizeBytes[0]) | uint32_t(sizeBytes[1]) << 8 |
                    uint32_t(sizeBytes[2]) << 16 | uint32_t(sizeBytes[3]) << 24;
    if (size < kFrameHeaderSize || size > kMaxFrameSize) {
        g_warning("Script channel: frame size %u out of bounds; closing the channel", size);
        Close();
        return ReadResult::Failed;
    }
    // The buffer grows with the bytes that actually arrive, so a size field
    // alone cannot make this side allocate the maximum.
    std::string body;
    for (size_t done = 0; done < size;) {
        size_t chunk = std::min<size_t>(size - done, std::max<size_t>(4096, done));
        body.resize(done + chunk);
        errno = 0;
        if (!ReadExact(reinterpret_cast<uint8_t*>(body.data()) + done, chunk, restDeadline, true)) {
            g_warning("Script channel: frame cut off (%s); closing the channel",
                      errno ? g_strerror(errno) : "end of file");
            Close();
            return ReadResult::Failed;
        }
        done += chunk;
    }
    auto* data = reinterpret_cast<uint8_t*>(body.data());
    if (!DecodeFrame(data, size, frame)) {
        g_warning("Script channel: malformed frame of kind %u; closing the channel", data[0]);
        Close();
        return ReadResult::Failed;
    }
    if (onActivity) onActivity();
    return ReadResult::Frame;
}

bool ScriptChannel::WriteAll(const std::string& bytes) {
    size_t done = 0;
    auto self = shared_from_this();
    while (done < bytes.size()) {
        if (fd < 0) return false;
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Close();
            return false;
        }
        // The other side is not reading. If it is writing to us at the same time
        // (two large requests crossing), take its frame so that both go on.
        pollfd p{fd, POLLOUT | POLLIN, 0};
        int r = ::poll(&p, 1, 10000);
        if (r < 0 && errno != EINTR) {
            Close();
            return false;
        }
        if (r == 0) {
            g_warning("Script channel: the other side takes nothing for 10 s; closing the channel");
            Close();
            return false;
        }
        if (r > 0 && (p.revents & POLLIN) && !(p.revents & POLLOUT)) {
            ScriptFrame frame;
            if (ReadFrame(frame, g_get_monotonic_time()) != ReadResult::Frame) {
                if (fd < 0) return false;
                continue;
            }
            inbox.push_back(std::move(frame));
        }
    }
    return true;
}

bool ScriptChannel::Send(const ScriptFrame& frame) {
    std::string bytes;
    if (!EncodeFrame(frame, bytes)) return false;
    bool ok = WriteAll(bytes);
    if (!inbox.empty()) ScheduleInboxDrain();
    return ok;
}

void ScriptChannel::Handle(const ScriptFrame& frame) {
    if (frame.kind == FrameKind::Reply) {
        if (pending.count(frame.id)) stash[frame.id] = frame;
        return;  // otherwise its wait gave up: drop it
    }
    // The server reads a connection's one hello before the channel exists.
    if (frame.kind == FrameKind::Hello) return;
    ScriptFrame reply;
    reply.number = E_FAIL;
    reply.values.resize(1);
    if (serve) serve(frame, reply);
    if (fd < 0) return;
    reply.kind = FrameKind::Reply;
    reply.id = frame.id;
    if (reply.values.empty()) reply.values.resize(1);
    std::string bytes;
    if (!EncodeFrame(reply, bytes)) {
        // A result too large to carry: answer with a failure instead of nothing.
        g_warning("Script channel: reply to request %u is too large; sending a failure", frame.id);
        reply.number = E_FAIL;
        reply.values.assign(1, ScriptValue());
        bytes.clear();
        EncodeFrame(reply, bytes);
    }
    WriteAll(bytes);
}

ScriptChannel::Result ScriptChannel::Request(ScriptFrame& request, ScriptFrame& reply, int timeoutMs) {
    auto self = shared_from_this();
    if (fd < 0) return Result::Closed;
    if (++nextId == 0) ++nextId;
    request.id = nextId;
    std::string bytes;
    if (!EncodeFrame(request, bytes)) return Result::TooLarge;
    uint32_t id = request.id;
    pending.insert(id);
    auto restart = [&] { return timeoutMs < 0 ? int64_t(-1) : g_get_monotonic_time() + int64_t(timeoutMs) * 1000; };
    Result result = Result::Closed;
    if (WriteAll(bytes)) {
        int64_t deadline = restart();
        for (;;) {
            auto found = stash.find(id);
            if (found != stash.end()) {
                reply = std::move(found->second);
                stash.erase(found);
                result = Result::Ok;
                break;
            }
            if (fd < 0) break;
            if (!inbox.empty()) {
                ScriptFrame frame = std::move(inbox.front());
                inbox.pop_front();
                deadline = restart();
                Handle(frame);
                continue;
            }
            // Wait on this channel and on the other members of its group.
            std::vector<std::shared_ptr<ScriptChannel>> members{self};
            if (group)
                for (auto& weak : *group)
                    if (auto m = weak.lock(); m && m != self && m->fd >= 0) members.push_back(m);
            std::vector<pollfd> fds;
            for (auto& m : members) fds.push_back({m->fd, POLLIN, 0});
            int r = ::poll(fds.data(), fds.size(), RemainingMs(deadline));
            if (r < 0) {
                if (errno == EINTR) continue;
                Close();
                break;
            }
            if (r == 0) {
                result = Result::TimedOut;
                break;
            }
            for (size_t i = 1; i < members.size(); ++i)
                if (fds[i].revents) members[i]->ServeOneReady();
            if (fds[0].revents) {
                ScriptFrame frame;
                ReadResult got = ReadFrame(frame, g_get_monotonic_time());
                if (got == ReadResult::Failed) break;
                if (got == ReadResult::Frame) {
                    deadline = restart();
                    Handle(frame);
                }
            }
        }
    }
    pending.erase(id);
    stash.erase(id);
    if (pending.empty()) stash.clear();
    if (!inbox.empty() && fd >= 0) ScheduleInboxDrain();
    return result;
}

void ScriptChannel::ServeOneReady() {
    auto self = shared_from_this();
    if (!inbox.empty()) {
        ScriptFrame frame = std::move(inbox.front());
        inbox.pop_front();
        Handle(frame);
        return;
    }
    if (fd < 0) return;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return;  // consumed by a nested wait meanwhile
    ScriptFrame frame;
    if (ReadFrame(frame, g_get_monotonic_time()) == ReadResult::Frame) Handle(frame);
}

void ScriptChannel::ScheduleInboxDrain() {
    if (drainId != 0) return;
    drainId = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* channel = static_cast<ScriptChannel*>(data);
            auto self = channel->shared_from_this();
            channel->drainId = 0;
            while (!channel->inbox.empty() && channel->fd >= 0) channel->ServeOneReady();
            return G_SOURCE_REMOVE;
        },
        this);
}

int ScriptChannel::OnReadable(int, unsigned condition, void* data) {
    auto* channel = static_cast<ScriptChannel*>(data);
    auto self = channel->shared_from_this();
    if (condition & (G_IO_HUP | G_IO_ERR)) {
        // Serve what is still readable before the end of file is seen.
        pollfd p{channel->fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
            ScriptFrame frame;
            if (channel->ReadFrame(frame, g_get_monotonic_time()) == ReadResult::Frame) {
                channel->Handle(frame);
                return channel->fd >= 0 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
            }
        }
        channel->watchId = 0;
        channel->Close();
        return G_SOURCE_REMOVE;
    }
    channel->ServeOneReady();
    if (channel->fd < 0) {
        channel->watchId = 0;  // Close already removed the source; keep GLib's view consistent
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

}  // namespace platform

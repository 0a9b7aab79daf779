// Any bytes as the script channel socket could deliver them, fed to a real
// ScriptChannel that waits for a reply, with the serving side of the
// user-interface process or of the page (chosen by the first byte): requests
// are served inline, replies stashed or dropped, and malformed input must close
// the channel cleanly. Slower than fuzz_bridge_frames (a socket per input).

#include <glib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/bridge/ScriptChannel.h"

using namespace platform;

namespace {

void Quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void Feed(const uint8_t* data, size_t size) {
    if (size == 0) return;
    bool pageSide = data[0] & 1;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    // The whole input waits in the socket before the channel reads; the peer
    // end then closes its writing side so that the stream ends.
    size_t done = 0;
    while (done < size - 1) {
        ssize_t n = write(fds[1], data + 1 + done, size - 1 - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    shutdown(fds[1], SHUT_WR);
    auto channel = ScriptChannel::Create(fds[0]);
    channel->serve = [pageSide](const ScriptFrame& request, ScriptFrame& reply) {
        // What each side answers, shaped like the real servers' replies.
        reply.number = S_OK;
        if (pageSide) {
            ScriptValue list = ScriptValue::Array(request.values);
            reply.values[0] = list;
        } else if (request.kind == FrameKind::DocumentQuery) {
            reply.values[0] = ScriptValue::Int32(static_cast<int32_t>(request.name.size() % 4));
        } else if (!request.values.empty()) {
            reply.values[0] = request.values[0];
        } else {
            reply.values[0] = ScriptValue::Text(request.name + request.text);
        }
    };
    ScriptFrame request, reply;
    request.kind = pageSide ? FrameKind::ApiCall : FrameKind::CallFunction;
    channel->Request(request, reply, 0);
    channel.reset();
    close(fds[1]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_log_set_default_handler(Quiet, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Keep the socket from filling with replies (each input is at most this big).
    if (size > 16384) return 0;
    Feed(data, size);
    return 0;
}

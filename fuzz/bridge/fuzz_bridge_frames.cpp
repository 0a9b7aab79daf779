// Any bytes as the script channel socket could deliver them, to both ends.
//
// 1. The stream is cut into size-prefixed frames as the channel does and each
//    is decoded; a frame that decodes must encode back to exactly its bytes
//    (the encoding is canonical, so a difference is a codec fault).
// 2. The same bytes are fed to a real ScriptChannel that waits for a reply
//    with the serving side of the user-interface process or of the page
//    (chosen by the first byte): requests are served inline, replies stashed
//    or dropped, malformed input must close the channel cleanly.

#include <glib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ScriptChannel.h"

using namespace platform;

namespace {

void Quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void CheckFrames(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (size - at >= kFrameSizeField) {
        uint32_t length = uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
                          uint32_t(data[at + 3]) << 24;
        at += kFrameSizeField;
        if (length > size - at) return;
        ScriptFrame frame;
        if (DecodeFrame(data + at, length, frame)) {
            std::string again;
            if (!EncodeFrame(frame, again) || again.size() != length + kFrameSizeField ||
                std::memcmp(again.data() + kFrameSizeField, data + at, length) != 0)
                abort();
        }
        at += length;
    }
}

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
            reply.values[0] = ScriptValue::Bool(request.name.size() % 2 == 0);
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
    CheckFrames(data, size);
    Feed(data, size);
    return 0;
}

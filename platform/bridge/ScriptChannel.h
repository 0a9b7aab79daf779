#pragma once
// ScriptChannel: synchronous requests over a Unix stream socket between the
// user-interface process and a page's web process, nested to any depth in both
// directions. Both ends use this same code.
//
// How a wait works. Request() writes the request frame and then reads the
// socket itself instead of returning to the main loop. Frames that arrive while
// it waits are handled on the spot:
//   - a request from the other side is served inline: the server runs (and may
//     itself send requests and wait, which nests), and its reply is written;
//   - a reply to this wait ends it;
//   - a reply to an outer wait (replies do cross) goes into a stash keyed by id,
//     where that outer wait finds it when control returns to it;
//   - a reply to nobody (its wait gave up) is dropped.
// While nobody waits, a GLib watch on the socket serves incoming requests. The
// watch first polls with timeout 0 and reads exactly one frame: a wait run from
// the same main-loop iteration may already have consumed what woke the watch,
// and a blocking read there would hang. Reads never go ahead of the current
// frame, so nothing is buffered behind a nested wait's back; the one exception
// is a frame read while our own write is blocked (both sides sending large
// requests at once), which goes into an inbox that waits and the watch drain
// first.
//
// End of file, a socket error or a malformed frame closes the channel and fails
// every pending wait. A wait may be bounded: it gives up when the other side
// sends nothing for that long (a frame restarts the clock, so time spent in
// handlers called back from the other side does not count).
//
// Several channels of one process can form a group (the web process has one per
// page): a wait then also serves requests arriving on the other members, since a
// native handler for one page may call into another page of the same process.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ScriptFrame.h"

namespace platform {

class ScriptChannel;
using ScriptChannelGroup = std::vector<std::weak_ptr<ScriptChannel>>;

class ScriptChannel : public std::enable_shared_from_this<ScriptChannel> {
public:
    enum class Result { Ok, Closed, TimedOut, TooLarge };

    // Takes ownership of the connected socket fd (made non-blocking here).
    static std::shared_ptr<ScriptChannel> Create(int fd);
    ~ScriptChannel();
    ScriptChannel(const ScriptChannel&) = delete;
    ScriptChannel& operator=(const ScriptChannel&) = delete;

    // Answers a request from the other side: fills status (frame.number) and
    // value (frame.values[0]) of the reply; kind and id are set by the channel.
    std::function<void(const ScriptFrame& request, ScriptFrame& reply)> serve;
    // Every frame received (tells the owner the other side is alive).
    std::function<void()> onActivity;
    // Called once when the channel closes (on the user-interface thread).
    std::function<void()> onClosed;

    // Serves requests from the main loop while nobody waits.
    void StartWatch();
    void JoinGroup(const std::shared_ptr<ScriptChannelGroup>& group);

    // Sends request (its id is assigned here) and waits for the reply.
    // timeoutMs < 0 waits without bound.
    Result Request(ScriptFrame& request, ScriptFrame& reply, int timeoutMs);
    // Sends a frame that gets no reply.
    bool Send(const ScriptFrame& frame);

    bool IsOpen() const { return fd >= 0; }
    // Depth of waits on this channel now in progress (0 when idle).
    int WaitDepth() const { return static_cast<int>(pending.size()); }
    void Close();

private:
    explicit ScriptChannel(int fd);

    enum class ReadResult { Frame, Nothing, Failed };
    // Reads one whole frame. Nothing: no byte arrived before deadlineUs (only
    // possible before the first byte; a frame cut off mid-way closes the channel).
    ReadResult ReadFrame(ScriptFrame& frame, int64_t deadlineUs);
    bool ReadExact(uint8_t* buffer, size_t size, int64_t deadlineUs, bool started);
    bool WriteAll(const std::string& bytes);
    void Handle(const ScriptFrame& frame);
    // Handles one frame already waiting (inbox or socket); never blocks for the
    // start of a frame.
    void ServeOneReady();
    void ScheduleInboxDrain();
    static int OnReadable(int fd, unsigned condition, void* self);

    int fd = -1;
    unsigned watchId = 0;
    unsigned drainId = 0;
    uint32_t nextId = 0;
    std::set<uint32_t> pending;
    std::map<uint32_t, ScriptFrame> stash;
    std::deque<ScriptFrame> inbox;
    std::shared_ptr<ScriptChannelGroup> group;
    bool closedReported = false;
};

}  // namespace platform

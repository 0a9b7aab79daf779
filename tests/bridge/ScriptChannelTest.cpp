// ScriptChannel against a scripted peer on the other end of a socket pair: the
// peer thread writes and reads raw frames in exactly the order a case needs
// (crossing replies, a peer that dies mid-nesting, a late reply, two large
// requests crossing), so each ordering is reproduced every time.

#include <gtest/gtest.h>
#include <glib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/bridge/ScriptChannel.h"

using namespace platform;

namespace {

// Blocking frame I/O for the peer thread.
struct Peer {
    int fd;

    void Write(FrameKind kind, uint32_t id, std::wstring name = {}, std::vector<ScriptValue> values = {},
               int32_t number = 0) {
        ScriptFrame frame;
        frame.kind = kind;
        frame.id = id;
        frame.name = std::move(name);
        frame.values = std::move(values);
        frame.number = number;
        std::string bytes;
        ASSERT_TRUE(EncodeFrame(frame, bytes));
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            ASSERT_GT(n, 0);
            done += size_t(n);
        }
    }
    void Reply(uint32_t id, ScriptValue value) { Write(FrameKind::Reply, id, {}, {std::move(value)}, S_OK); }
    bool ReadExact(void* buffer, size_t size) {
        size_t done = 0;
        while (done < size) {
            ssize_t n = read(fd, static_cast<char*>(buffer) + done, size - done);
            if (n <= 0) return false;
            done += size_t(n);
        }
        return true;
    }
    ScriptFrame Read() {
        ScriptFrame frame;
        uint8_t sizeBytes[4];
        if (!ReadExact(sizeBytes, 4)) return frame;
        uint32_t size = sizeBytes[0] | sizeBytes[1] << 8 | sizeBytes[2] << 16 | uint32_t(sizeBytes[3]) << 24;
        std::string body(size, '\0');
        if (!ReadExact(body.data(), size)) return frame;
        EXPECT_TRUE(DecodeFrame(reinterpret_cast<const uint8_t*>(body.data()), size, frame));
        return frame;
    }
};

class ScriptChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        channel = ScriptChannel::Create(fds[0]);
        peer.fd = fds[1];
        channel->onClosed = [this] { ++closedCount; };
    }
    void TearDown() override {
        if (thread.joinable()) thread.join();
        if (peer.fd >= 0) close(peer.fd);
        channel.reset();
    }
    ScriptChannel::Result Call(const std::wstring& name, ScriptValue& result, int timeoutMs = 5000) {
        ScriptFrame request, reply;
        request.kind = FrameKind::CallFunction;
        request.name = name;
        auto r = channel->Request(request, reply, timeoutMs);
        if (r == ScriptChannel::Result::Ok) result = reply.values.at(0);
        return r;
    }

    std::shared_ptr<ScriptChannel> channel;
    Peer peer{-1};
    std::thread thread;
    int closedCount = 0;
};

TEST_F(ScriptChannelTest, ReplyToAnOuterWaitArrivingDuringANestedWaitIsKept) {
    ScriptValue innerResult;
    channel->serve = [&](const ScriptFrame& request, ScriptFrame& reply) {
        EXPECT_EQ(request.kind, FrameKind::ApiCall);
        EXPECT_EQ(Call(L"inner", innerResult), ScriptChannel::Result::Ok);
        reply.number = S_OK;
        reply.values[0] = innerResult;
    };
    ScriptFrame peerGot;
    thread = std::thread([&] {
        ScriptFrame outer = peer.Read();
        peer.Write(FrameKind::ApiCall, 100, {}, {ScriptValue()});
        ScriptFrame inner = peer.Read();
        EXPECT_EQ(inner.name, L"inner");
        peer.Reply(outer.id, ScriptValue::Text(L"outer result"));  // crosses the inner wait
        peer.Reply(inner.id, ScriptValue::Text(L"inner result"));
        peerGot = peer.Read();
    });
    ScriptValue outerResult;
    ASSERT_EQ(Call(L"outer", outerResult), ScriptChannel::Result::Ok);
    thread.join();
    EXPECT_EQ(innerResult, ScriptValue::Text(L"inner result"));
    EXPECT_EQ(outerResult, ScriptValue::Text(L"outer result"));
    EXPECT_EQ(peerGot.kind, FrameKind::Reply);
    EXPECT_EQ(peerGot.id, 100u);
    EXPECT_EQ(peerGot.values.at(0), ScriptValue::Text(L"inner result"));
    EXPECT_EQ(channel->WaitDepth(), 0);
}

TEST_F(ScriptChannelTest, EndOfFileFailsEveryPendingWait) {
    ScriptChannel::Result innerResult = ScriptChannel::Result::Ok;
    channel->serve = [&](const ScriptFrame&, ScriptFrame&) {
        ScriptValue ignored;
        innerResult = Call(L"inner", ignored);
    };
    thread = std::thread([&] {
        peer.Read();
        peer.Write(FrameKind::ApiCall, 100, {}, {ScriptValue()});
        peer.Read();  // the nested request
        close(peer.fd);
        peer.fd = -1;
    });
    ScriptValue ignored;
    EXPECT_EQ(Call(L"outer", ignored), ScriptChannel::Result::Closed);
    EXPECT_EQ(innerResult, ScriptChannel::Result::Closed);
    EXPECT_EQ(closedCount, 1);
    EXPECT_FALSE(channel->IsOpen());
    EXPECT_EQ(Call(L"after", ignored), ScriptChannel::Result::Closed);
}

TEST_F(ScriptChannelTest, AWaitGivesUpAndItsLateReplyIsDropped) {
    thread = std::thread([&] {
        ScriptFrame first = peer.Read();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        peer.Reply(first.id, ScriptValue::Text(L"late"));
        ScriptFrame second = peer.Read();
        peer.Reply(second.id, ScriptValue::Text(L"second"));
    });
    ScriptValue result;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Call(L"first", result, 100), ScriptChannel::Result::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_TRUE(channel->IsOpen());
    ASSERT_EQ(Call(L"second", result), ScriptChannel::Result::Ok);
    EXPECT_EQ(result, ScriptValue::Text(L"second"));
}

TEST_F(ScriptChannelTest, LargeRequestsCrossingDoNotDeadlock) {
    // Both sides send a request far larger than the socket buffers at once.
    std::wstring big(3u << 20, L'x');
    channel->serve = [&](const ScriptFrame& request, ScriptFrame& reply) {
        reply.number = S_OK;
        reply.values[0] = ScriptValue::Int32(int32_t(request.values.at(0).text.size()));
    };
    ScriptFrame peerGot;
    thread = std::thread([&] {
        peer.Write(FrameKind::ApiCall, 100, {}, {ScriptValue::Text(big)});
        ScriptFrame request = peer.Read();
        peerGot = peer.Read();
        peer.Reply(request.id, ScriptValue::Int32(int32_t(request.name.size())));
    });
    ScriptValue result;
    ScriptFrame request, reply;
    request.kind = FrameKind::CallFunction;
    request.name = big;
    ASSERT_EQ(channel->Request(request, reply, 10000), ScriptChannel::Result::Ok);
    thread.join();
    EXPECT_EQ(reply.values.at(0), ScriptValue::Int32(int32_t(big.size())));
    EXPECT_EQ(peerGot.id, 100u);
    EXPECT_EQ(peerGot.values.at(0), ScriptValue::Int32(int32_t(big.size())));
}

TEST_F(ScriptChannelTest, TheWatchServesOneFrameAndNeverBlocks) {
    // Request A is served from the main loop; its handler waits on a nested
    // call, during which request B arrives and is served inline. The watch,
    // woken for bytes that the nested wait took, must not block afterwards.
    std::vector<std::wstring> served;
    channel->serve = [&](const ScriptFrame& request, ScriptFrame& reply) {
        served.push_back(request.name);
        if (request.name == L"A") {
            ScriptValue ignored;
            EXPECT_EQ(Call(L"nested", ignored), ScriptChannel::Result::Ok);
        }
        reply.number = S_OK;
    };
    channel->StartWatch();
    thread = std::thread([&] {
        peer.Write(FrameKind::Test, 1, L"A");
        ScriptFrame nested = peer.Read();
        peer.Write(FrameKind::Test, 2, L"B");
        EXPECT_EQ(peer.Read().id, 2u);  // B answered inside the nested wait
        peer.Reply(nested.id, ScriptValue());
        EXPECT_EQ(peer.Read().id, 1u);
    });
    auto start = std::chrono::steady_clock::now();
    while (served.size() < 2 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        g_main_context_iteration(nullptr, FALSE);
    thread.join();
    // Nothing is left; more iterations return at once.
    auto idle = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) g_main_context_iteration(nullptr, FALSE);
    EXPECT_LT(std::chrono::steady_clock::now() - idle, std::chrono::seconds(1));
    EXPECT_EQ(served, (std::vector<std::wstring>{L"A", L"B"}));
}

TEST_F(ScriptChannelTest, AWaitAlsoServesTheOtherChannelsOfItsGroup) {
    // Two pages of one web process: while this process waits on the first
    // page's channel, the other side calls into the second page.
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto second = ScriptChannel::Create(fds[0]);
    Peer secondPeer{fds[1]};
    auto group = std::make_shared<ScriptChannelGroup>();
    channel->JoinGroup(group);
    second->JoinGroup(group);
    std::wstring servedOnSecond;
    second->serve = [&](const ScriptFrame& request, ScriptFrame& reply) {
        servedOnSecond = request.name;
        reply.number = S_OK;
    };
    thread = std::thread([&] {
        ScriptFrame first = peer.Read();
        secondPeer.Write(FrameKind::CallFunction, 5, L"onSecondPage");
        EXPECT_EQ(secondPeer.Read().id, 5u);
        peer.Reply(first.id, ScriptValue::Bool(true));
    });
    ScriptValue result;
    ASSERT_EQ(Call(L"first", result), ScriptChannel::Result::Ok);
    thread.join();
    EXPECT_EQ(servedOnSecond, L"onSecondPage");
    EXPECT_EQ(result, ScriptValue::Bool(true));
    close(secondPeer.fd);
}

TEST_F(ScriptChannelTest, AMalformedFrameClosesTheChannel) {
    thread = std::thread([&] {
        peer.Read();
        const char junk[] = "\x09\x00\x00\x00\x63\x00\x00\x00\x00\x00\x00\x00\x00";  // kind 99
        ASSERT_EQ(write(peer.fd, junk, 13), 13);
    });
    ScriptValue ignored;
    EXPECT_EQ(Call(L"f", ignored), ScriptChannel::Result::Closed);
    EXPECT_EQ(closedCount, 1);
}

}  // namespace

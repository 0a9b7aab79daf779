#include "AlsaPeers.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace alsatest {

SeqPeer::SeqPeer() {
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
        seq = nullptr;
        return;
    }
    snd_seq_set_client_name(seq, "korvo-test-peer");
    // Room for a long message arriving in parts.
    snd_seq_set_client_pool_input(seq, 4000);
    port =
        snd_seq_create_simple_port(seq, "echo",
                                   SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                       SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0) return;
    reader = std::thread([this] {
        int count = snd_seq_poll_descriptors_count(seq, POLLIN);
        std::vector<pollfd> fds(size_t(count > 0 ? count : 1));
        snd_seq_poll_descriptors(seq, fds.data(), unsigned(fds.size()), POLLIN);
        while (!stop) {
            if (poll(fds.data(), fds.size(), 50) <= 0) continue;
            snd_seq_event_t* ev = nullptr;
            while (snd_seq_event_input(seq, &ev) >= 0 && ev) {
                if (ev->type != SND_SEQ_EVENT_SYSEX) continue;
                auto* bytes = static_cast<const uint8_t*>(ev->data.ext.ptr);
                std::lock_guard<std::mutex> guard(lock);
                received.insert(received.end(), bytes, bytes + ev->data.ext.len);
            }
        }
    });
}

SeqPeer::~SeqPeer() {
    stop = true;
    if (reader.joinable()) reader.join();
    if (seq) snd_seq_close(seq);
}

bool SeqPeer::Send(const std::vector<uint8_t>& bytes) {
    // One event can hold no more than the client's pool; like the kernel's own
    // raw MIDI bridge, a long message goes out in parts.
    constexpr size_t Part = 256;
    for (size_t done = 0; done < bytes.size(); done += Part) {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_seq_ev_set_source(&ev, port);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        snd_seq_ev_set_sysex(&ev, std::min(Part, bytes.size() - done),
                             const_cast<uint8_t*>(bytes.data() + done));
        int result;
        while ((result = snd_seq_event_output_direct(seq, &ev)) == -EAGAIN)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (result < 0) return false;
        // Paced as our own sender is: a reader's input pool holds a few KB.
        if ((done + Part) % 1024 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<uint8_t> SeqPeer::Received() {
    std::lock_guard<std::mutex> guard(lock);
    return received;
}

bool SeqPeer::WaitFor(size_t count, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (Received().size() < count) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool InGuest() {
    utsname u{};
    uname(&u);
    bool guest = std::getenv("KORVO_IN_VM") != nullptr;
    bool seq = access("/dev/snd/seq", R_OK | W_OK) == 0;
    std::printf(
        "ALSA tests: %s (kernel %s), /dev/snd/seq %s\n",
        guest ? "running inside the VM guest" : "NOT inside the VM guest (use tools/vm/run-in-vm)",
        u.release, seq ? "opens" : "does not open");
    return guest && seq;
}

}  // namespace alsatest

#pragma once
// The commands of yonderpad-units. While one runs it is the terminal module's
// listener: it starts its work once the first discovery has ended (OnListed),
// follows what arrives on "Receive", and ends the loop with its exit code.
// Files: UnitCommand.cpp (what they share), ListCommand.cpp, SendCommand.cpp,
// RecordCommand.cpp, ReplayCommand.cpp, MonitorCommand.cpp.
//
// A reply. What a unit sends back to a message is the first message from it
// after the message left that is not a state report: state reports answer the
// device module's polls, which go on all the time. Only when the message sent
// was the unit's poll itself does its state report count as the reply.
//
// A second discovery. MIDI messages get lost now and then, and on a loaded
// machine a unit's answer may come after its port's probe window; either way
// a unit is missing from that discovery. A command that finds no unit at all,
// or not the unit it names, therefore has the device module discover once
// more ("Reset", as the page's Rescan does) before it concludes.
//
// Delivery. A message handed to "Send" has not yet left when the program
// could end: the MIDI services drop what is still queued when the device
// module closes its ports. A command therefore ends only once it knows its
// messages left: a reply proves it, and so does a state report that answers
// a poll sent after the message, because the device module's messages leave
// a port in the order they were handed over. The first state report after a
// message may answer a poll sent before it; each poll goes out only after
// the report to the previous one arrived, so the second report after the
// message answers a poll sent after it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Capture.h"
#include "terminal/CommandLine.h"
#include "terminal/UnitTerminal.h"

namespace terminal {

enum ExitCode : int {
    ExitDone = 0,
    ExitNoUnits = 1,     // list: no unit found
    ExitBadInput = 2,    // bad usage or input: nothing was sent
    ExitNoReply = 3,     // no reply in time
    ExitNoSuchUnit = 4,  // the unit named is not among those found
    ExitFailure = 5,     // the device module or a file could not be used
    ExitInterrupted = 130,
};

class UnitCommand : public TerminalListener {
  public:
    explicit UnitCommand(const CommandLine& line) : line(line) {}

    // The terminal runs and discovery is under way. The base arms the bound
    // on discovery; commands that override it call it.
    virtual void Begin(UnitTerminal& terminal);
    // A termination signal arrived: the exit code to end with.
    virtual int OnSignal() { return ExitInterrupted; }
    // The loop has ended; nothing arrives any more.
    virtual void End() {}

    void OnReceive(const ReceivedMessage&, int64_t) override {}
    void OnListed() override {}
    // The discovery bound; commands with timers of their own pass other ids on.
    void OnTimer(unsigned id) override;

  protected:
    // Ends the loop with this exit code; later calls change nothing.
    void Finish(int code);
    // The unit of this id among those found, or null: then either a second
    // discovery is under way (OnListed comes again) or the command finished
    // with ExitNoSuchUnit after saying so on standard error.
    const TerminalUnit* RequireUnit(uint32_t id);
    // Starts the second discovery; false when it was had already.
    bool RescanOnce();
    // Whether message is the reply (see above) from unit to a message that
    // was the unit's poll (sentPoll) or not.
    bool IsReplyFrom(const TerminalUnit& unit, const ReceivedMessage& message, bool sentPoll) const;
    // The "Send" text of a message to unit: id, then the hex digits.
    static std::string SendText(const TerminalUnit& unit, const std::string& digits);
    // One line to standard output, flushed at once (the output may be a pipe).
    static void Print(const std::string& text);
    // One line to standard error, after the program's name.
    static void Complain(const std::string& text);

    // The timers of the commands; the base's comes first.
    enum Timer : unsigned { DiscoveryTimer = 1, WaitTimer, ReplyTimer, GapTimer, RecordTimer };
    // Discovery takes 1.5 s and 0.2 s per output port; this bound means the
    // device module never got going (or keeps being restarted).
    static constexpr uint32_t DiscoveryLimitMs = 60000;

    const CommandLine& line;
    UnitTerminal* terminal = nullptr;
    bool finished = false;
    bool rescanned = false;
};

class ListCommand : public UnitCommand {
  public:
    using UnitCommand::UnitCommand;
    void OnListed() override;
    void OnTimer(unsigned id) override;

  private:
    void Show();
    bool waiting = false;
};

class SendCommand : public UnitCommand {
  public:
    using UnitCommand::UnitCommand;
    void OnListed() override;
    void OnReceive(const ReceivedMessage& message, int64_t realTimeUs) override;
    void OnTimer(unsigned id) override;

  private:
    TerminalUnit unit;
    bool sent = false;
    bool sentPoll = false;
};

class RecordCommand : public UnitCommand {
  public:
    using UnitCommand::UnitCommand;
    void Begin(UnitTerminal& terminal) override;
    int OnSignal() override { return ExitDone; }
    void End() override;
    void OnListed() override;
    void OnReceive(const ReceivedMessage& message, int64_t realTimeUs) override;
    void OnTimer(unsigned id) override;

  private:
    capture::CaptureWriter writer;
    bool opened = false;
    bool started = false;
    std::size_t messages = 0;
};

class ReplayCommand : public UnitCommand {
  public:
    ReplayCommand(const CommandLine& line, std::vector<capture::CapturedMessage> messages)
        : UnitCommand(line), messages(std::move(messages)) {}
    void OnListed() override;
    void OnReceive(const ReceivedMessage& message, int64_t realTimeUs) override;
    void OnTimer(unsigned id) override;

  private:
    void SendNext();

    std::vector<capture::CapturedMessage> messages;
    TerminalUnit target;
    bool started = false;
    std::size_t next = 0;     // the message to send next
    bool sentPoll = false;    // the message sent last was the target's poll
    bool awaiting = false;    // --wait-reply: the reply to the last message is due
    bool confirming = false;  // all sent: waiting for proof that the last left
    int reportsSinceLast = 0;
};

class MonitorCommand : public UnitCommand {
  public:
    using UnitCommand::UnitCommand;
    int OnSignal() override { return ExitDone; }
    void OnListed() override;
    void OnReceive(const ReceivedMessage& message, int64_t realTimeUs) override;
};

}  // namespace terminal

#pragma once
// How traffic shows in a terminal: the monitor's line (what a row of the
// page's traffic table shows), the same as a JSON object for scripts, and the
// entry of a text log in the page's layout (tools/Capture.h).
//
// A monitor line: the time (hh:mm:ss.mmm, local), the unit id in decimal ("-"
// when the text names none), then either the page's note (a new list of units,
// an announcement, a text not understood) or command, value and payload in hex
// with what the command means in brackets, and last the bytes on the wire.

#include <json-glib/json-glib.h>

#include <cstdint>
#include <string>

#include "Capture.h"
#include "terminal/ReceivedMessage.h"

namespace terminal {

// hh:mm:ss.mmm in local time, as the page writes times.
std::string ClockTime(int64_t realTimeUs);
// A unit type as the page shows it: two upper-case hex digits.
std::string TypeName(uint8_t type);

std::string TrafficLine(const ReceivedMessage& message, const std::string& time);
// Adds the message as an object to builder (at a place for a value).
void AddTrafficObject(JsonBuilder* builder, const ReceivedMessage& message,
                      const std::string& time);
// A received text as a line of the page's text log.
capture::TextLogEntry TextLogEntryOf(const ReceivedMessage& message, const std::string& time);

// The JSON text of what builder holds, on one line or indented.
std::string JsonText(JsonBuilder* builder, bool pretty);

}  // namespace terminal

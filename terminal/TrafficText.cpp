#include "TrafficText.h"

#include <glib.h>

#include <cstdio>

namespace terminal {

namespace {

std::string Hex2(uint8_t byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02x", byte);
    return text;
}

// The page's note for a text that stands for no message on the wire, or "".
std::string NoteOf(const ReceivedMessage& message) {
    switch (message.kind) {
        case MessageKind::List:
            return "discovery: new list of units";
        case MessageKind::Announcement:
            return std::string("announces ") + TypeName(message.type) + std::string(":") +
                   std::to_string(message.id) + ", serial " + message.serial;
        case MessageKind::Invalid:
            return "not understood: " + message.text;
        default:
            return "";
    }
}

bool NamesUnit(const ReceivedMessage& message) {
    return message.kind != MessageKind::Invalid && message.kind != MessageKind::List;
}

std::string RawBytes(const ReceivedMessage& message) {
    std::string raw = HexBytes(message.WireBytes(), " ");
    for (char& c : raw) c = g_ascii_toupper(c);
    return raw;
}

}  // namespace

std::string ClockTime(int64_t realTimeUs) {
    GDateTime* moment = g_date_time_new_from_unix_local(realTimeUs / G_USEC_PER_SEC);
    if (moment == nullptr) return "--:--:--.---";
    gchar* clock = g_date_time_format(moment, "%H:%M:%S");
    char text[16];
    std::snprintf(text, sizeof text, "%s.%03d", clock,
                  static_cast<int>(realTimeUs % G_USEC_PER_SEC / 1000));
    g_free(clock);
    g_date_time_unref(moment);
    return text;
}

std::string TypeName(uint8_t type) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", type);
    return text;
}

std::string TrafficLine(const ReceivedMessage& message, const std::string& time) {
    std::string line = time + "  " + (NamesUnit(message) ? std::to_string(message.id) : "-") + "  ";
    const std::string note = NoteOf(message);
    if (!note.empty()) return line + note;
    line += Hex2(message.command) + " " + Hex2(message.value);
    if (!message.payload.empty()) line += std::string(" ") + HexBytes(message.payload, " ");
    const std::string meaning = DescribeCommand(message.command);
    if (!meaning.empty()) line += "  (" + meaning + ")";
    return line + "  " + RawBytes(message);
}

void AddTrafficObject(JsonBuilder* builder, const ReceivedMessage& message,
                      const std::string& time) {
    json_builder_begin_object(builder);
    json_builder_set_member_name(builder, "time");
    json_builder_add_string_value(builder, time.c_str());
    json_builder_set_member_name(builder, "kind");
    json_builder_add_string_value(builder, KindName(message.kind));
    json_builder_set_member_name(builder, "text");
    json_builder_add_string_value(builder, message.text.c_str());
    if (NamesUnit(message)) {
        json_builder_set_member_name(builder, "unit");
        json_builder_add_int_value(builder, message.id);
        json_builder_set_member_name(builder, "type");
        json_builder_add_string_value(builder, TypeName(message.type).c_str());
    }
    const std::string note = NoteOf(message);
    if (!note.empty()) {
        json_builder_set_member_name(builder, "note");
        json_builder_add_string_value(builder, note.c_str());
    }
    if (message.kind == MessageKind::Announcement) {
        json_builder_set_member_name(builder, "serial");
        json_builder_add_string_value(builder, message.serial.c_str());
    }
    if (message.OnWire()) {
        json_builder_set_member_name(builder, "command");
        json_builder_add_string_value(builder, Hex2(message.command).c_str());
        json_builder_set_member_name(builder, "value");
        json_builder_add_string_value(builder, Hex2(message.value).c_str());
        json_builder_set_member_name(builder, "payload");
        json_builder_add_string_value(builder, HexBytes(message.payload, " ").c_str());
        json_builder_set_member_name(builder, "meaning");
        json_builder_add_string_value(builder, DescribeCommand(message.command));
        if (message.kind == MessageKind::Report) {
            json_builder_set_member_name(builder, "state");
            json_builder_add_string_value(builder, message.state.c_str());
        }
        json_builder_set_member_name(builder, "bytes");
        json_builder_add_string_value(builder, RawBytes(message).c_str());
    }
    json_builder_end_object(builder);
}

capture::TextLogEntry TextLogEntryOf(const ReceivedMessage& message, const std::string& time) {
    capture::TextLogEntry entry;
    entry.time = time;
    entry.sent = false;
    entry.unit = NamesUnit(message) ? std::to_string(message.id) : "-";
    entry.text = message.text;
    if (message.OnWire()) {
        entry.command = Hex2(message.command);
        entry.value = Hex2(message.value);
        entry.payload = HexBytes(message.payload, " ");
    } else {
        entry.command = message.kind == MessageKind::Announcement ? "announced " + message.serial
                                                                  : KindName(message.kind);
    }
    return entry;
}

std::string JsonText(JsonBuilder* builder, bool pretty) {
    JsonNode* root = json_builder_get_root(builder);
    JsonGenerator* generator = json_generator_new();
    json_generator_set_pretty(generator, pretty);
    json_generator_set_root(generator, root);
    gchar* text = json_generator_to_data(generator, nullptr);
    std::string result = text ? text : "";
    g_free(text);
    g_object_unref(generator);
    json_node_unref(root);
    return result;
}

}  // namespace terminal

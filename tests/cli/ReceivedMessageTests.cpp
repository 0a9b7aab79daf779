// The terminal reads "Receive" texts as the page does: every text of a table
// goes through the page's own protocol and traffic models under node and
// through the terminal's decoding, and both must tell the same kind and
// fields and write the same text log line. The monitor's line is checked
// for the parts the page's traffic row shows.

#include <glib.h>
#include <gtest/gtest.h>
#include <json-glib/json-glib.h>

#include "terminal/ReceivedMessage.h"
#include "terminal/TrafficText.h"

#ifndef KORVO_NODE
#error KORVO_NODE must name node
#endif
#ifndef KORVO_PAGE_DIR
#error KORVO_PAGE_DIR must name the folder of the page
#endif

namespace {

using terminal::MessageKind;

// For each text of argv[1] (a JSON array), one JSON object a line: what the
// page's parseReceive makes of it, and its line in the page's text log.
const char* const PageScript = R"(
const P = require(process.env.PAGE + "/protocol.js");
const { TrafficLog } = require(process.env.PAGE + "/traffic.js");
const time = Number(process.argv[2]);
for (const text of JSON.parse(process.argv[1])) {
  const m = P.parseReceive(text);
  const log = new TrafficLog();
  log.addReceived(m, time);
  const line = TrafficLog.textLog(log.entries).split("\n")[1];
  console.log(JSON.stringify({ kind: m.kind, type: m.type, id: m.id, command: m.command, value: m.value,
                               payload: m.payload, serial: m.serial, state: m.state, line }));
}
)";

const char* const Texts[] = {
    "00000000000001",
    "110012d68700013336332d3431342d3532320011",
    "0a0000002a00013034302d3030302d303230000a",
    "110012D68737050102",
    "0a0000002a04100000",
    "0b0000002a05020000",
    "0a0000002a370100",
    "110012d68704100000",
    "110012d687210528",
    "110012d68731057f",
    "110012d6872105",
    "110012d6870001",
    "000000000000010203",
    "10ffffffff0001aabbccddeeff00112233445566",
    "110012d68740",
    "110012d6874000a",
    "110012d68740zz",
    "",
};

// The page's readings of Texts, one object each; parsers keeps them alive.
std::vector<JsonObject*> PageReadings(int64_t timeMs, std::vector<JsonParser*>& parsers) {
    std::string texts = "[";
    for (const char* text : Texts) {
        if (texts.size() > 1) texts += ',';
        texts += std::string("\"") + text + "\"";
    }
    texts += "]";
    const std::string time = std::to_string(timeMs);
    const char* argv[] = {KORVO_NODE, "-e", PageScript, texts.c_str(), time.c_str(), nullptr};
    gchar** environment = g_environ_setenv(g_get_environ(), "PAGE", KORVO_PAGE_DIR, TRUE);
    gchar* out = nullptr;
    gchar* err = nullptr;
    gint status = 0;
    GError* error = nullptr;
    const bool ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), environment, G_SPAWN_DEFAULT,
                                  nullptr, nullptr, &out, &err, &status, &error);
    g_strfreev(environment);
    std::vector<JsonObject*> readings;
    EXPECT_TRUE(ran && g_spawn_check_wait_status(status, nullptr))
        << (error ? error->message : err);
    gchar** lines = g_strsplit(ran ? out : "", "\n", -1);
    for (gchar** line = lines; *line; ++line) {
        if (**line == '\0') continue;
        JsonParser* parser = json_parser_new();
        parsers.push_back(parser);
        if (json_parser_load_from_data(parser, *line, -1, nullptr))
            readings.push_back(json_node_get_object(json_parser_get_root(parser)));
    }
    g_strfreev(lines);
    g_clear_error(&error);
    g_free(out);
    g_free(err);
    return readings;
}

TEST(ReceivedMessage, TheTerminalReadsEveryTextAsThePageDoes) {
    // A moment with milliseconds of its own, so that the time fields are checked too.
    const int64_t timeMs = 1700000000123;
    std::vector<JsonParser*> parsers;
    const std::vector<JsonObject*> page = PageReadings(timeMs, parsers);
    ASSERT_EQ(page.size(), std::size(Texts));
    for (std::size_t i = 0; i < page.size(); ++i) {
        SCOPED_TRACE(Texts[i]);
        JsonObject* p = page[i];
        const terminal::ReceivedMessage m = terminal::DecodeReceive(Texts[i]);
        EXPECT_STREQ(terminal::KindName(m.kind), json_object_get_string_member(p, "kind"));
        if (m.kind != MessageKind::Invalid) {
            EXPECT_EQ(m.type, json_object_get_int_member(p, "type"));
            EXPECT_EQ(m.id, json_object_get_int_member(p, "id"));
            EXPECT_EQ(m.command, json_object_get_int_member(p, "command"));
            EXPECT_EQ(m.value, json_object_get_int_member(p, "value"));
            JsonArray* payload = json_object_get_array_member(p, "payload");
            ASSERT_EQ(m.payload.size(), json_array_get_length(payload));
            for (guint k = 0; k < json_array_get_length(payload); ++k)
                EXPECT_EQ(m.payload[k], json_array_get_int_element(payload, k));
        }
        if (m.kind == MessageKind::Announcement) {
            EXPECT_EQ(m.serial, json_object_get_string_member(p, "serial"));
        }
        if (m.kind == MessageKind::Report) {
            EXPECT_EQ(m.state, json_object_get_string_member(p, "state"));
        }
        const std::string line =
            capture::TextLogLine(terminal::TextLogEntryOf(m, terminal::ClockTime(timeMs * 1000)));
        EXPECT_EQ(line, std::string(json_object_get_string_member(p, "line")) + "\n");
    }
    for (JsonParser* parser : parsers) g_object_unref(parser);
}

TEST(ReceivedMessage, AMonitorLineShowsWhatThePagesTrafficRowShows) {
    const struct {
        const char* text;
        const char* line;
    } cases[] = {
        {"00000000000001", "12:00:00.000  -  discovery: new list of units"},
        {"110012d68700013336332d3431342d3532320011",
         "12:00:00.000  1234567  announces 11:1234567, serial 363-414-522"},
        {"110012d687210528",
         "12:00:00.000  1234567  21 05 28  (parameter)  F0 00 11 22 11 07 2D 4B 00 21 05 28 F7"},
        {"0a0000002a05020000",
         "12:00:00.000  42  05 02 00 00  (report, changed)  F0 00 11 22 0A 2A 00 00 00 05 02 00 00 "
         "F7"},
        {"110012d6874400", "12:00:00.000  1234567  44 00  F0 00 11 22 11 07 2D 4B 00 44 00 F7"},
        {"110012d6874", "12:00:00.000  -  not understood: 110012d6874"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(terminal::TrafficLine(terminal::DecodeReceive(c.text), "12:00:00.000"), c.line);
}

}  // namespace

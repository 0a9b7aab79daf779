// The page's models: reading "Receive" texts, checking what the user types
// before a "Send", the unit list built from discovery, and the traffic files.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");

const pageDir = process.env.KORVO_PAGE_DIR || path.join(__dirname, "../../installation/page");
const P = require(path.join(pageDir, "protocol.js"));
const { UnitList } = require(path.join(pageDir, "units.js"));
const { TrafficLog, base64 } = require(path.join(pageDir, "traffic.js"));

// What the device module writes to "Receive" for unit 11:1234567 (serial 363-414-522).
const ListStart = "00000000000001";
const Announce11 = "110012d68700013336332d3431342d3532320011";
const Announce0a = "0a0000002a0001" + Buffer.from("040-000-020").toString("hex") + "00" + "0a";

test("Receive texts are read by kind", async (t) => {
  const cases = [
    { text: ListStart, kind: "list" },
    { text: Announce11, kind: "announcement", type: 0x11, id: 1234567, serial: "363-414-522" },
    { text: "110012d68737050102", kind: "report", id: 1234567, command: 0x37, value: 5, payload: [1, 2], state: "reporting" },
    { text: "0a0000002a04100000", kind: "report", state: "steady" },
    { text: "0b0000002a05020000", kind: "report", state: "changed" },
    // 0x37 is a report only for the types 0x11 and 0x12; 0x04 only for 0x0A and 0x0B.
    { text: "0a0000002a370100", kind: "message" },
    { text: "110012d68704100000", kind: "message" },
    { text: "110012d687210528", kind: "parameter", index: 5, parameter: 0x28, written: false },
    { text: "110012d68731057f", kind: "parameter", index: 5, parameter: 0x7f, written: true },
    { text: "110012d6872105", kind: "message" }, // an answer without its byte tells no value
    { text: "110012d68740", kind: "invalid" }, // too short
    { text: "110012d6874000a", kind: "invalid" }, // odd length
    { text: "110012d68740zz", kind: "invalid" },
    { text: "", kind: "invalid" },
    // command 0, value 1 from a unit type but without the 13 announcement bytes
    { text: "110012d6870001", kind: "message" },
  ];
  for (const c of cases) {
    await t.test(c.text || "(empty)", () => {
      const m = P.parseReceive(c.text);
      for (const [key, value] of Object.entries(c)) {
        if (key === "text") continue;
        assert.deepEqual(m[key], value, key);
      }
    });
  }
});

test("serials are formatted as the device module formats them", () => {
  for (const [id, serial] of [[1234567, "363-414-522"], [1, "000-000-010"], [268435455, "355-581-494"]])
    assert.equal(P.formatSerial(id), serial);
});

test("what the user types is checked before anything is sent", async (t) => {
  const id = 1234567;
  const good = [
    [{ command: "10", value: "01", payload: "" }, "0012d6871001"],
    [{ command: "0x20", value: " 5 ", payload: "" }, "0012d6872005"],
    [{ command: "30", value: "05", payload: "7F" }, "0012d68730057f"],
    [{ command: "30", value: "05", payload: "01 02  7f" }, "0012d6873005 01027f".replace(" ", "")],
    [{ command: "007", value: "0", payload: "" }, "0012d6870700"],
  ];
  for (const [fields, text] of good)
    await t.test(`sends ${text}`, () => assert.equal(P.buildSend(id, fields).text, text));

  const bad = [
    [{ command: "10", value: "80", payload: "" }, /^Value: 80 is over 7F/],
    [{ command: "10", value: "1ff", payload: "" }, /^Value: 1FF is over 7F/],
    [{ command: "", value: "01", payload: "" }, /^Command: enter a value/],
    [{ command: "g1", value: "01", payload: "" }, /^Command: "g1" is not hexadecimal/],
    [{ command: "10", value: "01", payload: "123" }, /^Payload: odd number of hex digits \(3\)/],
    [{ command: "10", value: "01", payload: "01 8" }, /^Payload: odd number/],
    [{ command: "10", value: "01", payload: "01 80" }, /^Payload: byte 2 \(80\) is over 7F/],
    [{ command: "10", value: "01", payload: "0x01" }, /^Payload: only hex digits/],
  ];
  for (const [fields, message] of bad)
    await t.test(`refuses ${JSON.stringify(fields)}`, () => {
      const r = P.buildSend(id, fields);
      assert.equal(r.text, undefined);
      assert.match(r.error, message);
    });

  await t.test("refuses without a unit", () => {
    for (const noUnit of [null, 0, 0x10000000, 1.5]) assert.match(P.buildSend(noUnit, good[0][0]).error, /Choose a unit/);
  });
});

test("wire bytes of a text", () => {
  assert.deepEqual(P.messageBytes(0x11, 1234567, 0x10, 0x01, []),
                   [0xf0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2d, 0x4b, 0x00, 0x10, 0x01, 0xf7]);
  assert.deepEqual(P.messageBytes(0x0a, 0x0fffffff, 0x30, 0x02, [0x7f]),
                   [0xf0, 0x00, 0x11, 0x22, 0x0a, 0x7f, 0x7f, 0x7f, 0x7f, 0x30, 0x02, 0x7f, 0xf7]);
});

test("the unit list follows discovery and the units' messages", () => {
  const units = new UnitList();
  const feed = (text, time) => units.apply(P.parseReceive(text), time);
  feed(ListStart, 1);
  feed(Announce11, 2);
  feed(Announce0a, 3);
  assert.deepEqual(units.list().map((u) => [u.type, u.id, u.serial, u.state]),
                   [[0x11, 1234567, "363-414-522", "announced"], [0x0a, 42, "040-000-020", "announced"]]);

  // A report fills the table and the state; an answer changes one parameter
  // and is kept as a reply, newest first.
  feed("110012d68737040001027f", 10);
  let unit = units.get(1234567);
  assert.deepEqual([unit.state, unit.lastHeard, unit.parameters], ["reporting", 10, [0, 1, 2, 0x7f]]);
  feed("110012d68731020a", 11);
  feed("110012d68721060b", 12);
  assert.deepEqual(unit.parameters, [0, 1, 0x0a, 0x7f, undefined, undefined, 0x0b]);
  assert.deepEqual(unit.replies.map((r) => r.command), [0x21, 0x31]);
  assert.equal(unit.replies.length, 2, "reports are not kept as replies");

  // Messages of units that were not announced, or that name the id under
  // another type, change nothing.
  assert.equal(feed("110000000137040001", 13), null);
  assert.equal(feed("120012d68737040001", 13), null);
  assert.equal(unit.lastHeard, 12);

  // A new discovery empties the list; the unit comes back fresh.
  feed(ListStart, 20);
  assert.equal(units.size, 0);
  feed(Announce11, 21);
  unit = units.get(1234567);
  assert.deepEqual([unit.state, unit.parameters, unit.replies], ["announced", [], []]);
});

test("traffic keeps its latest entries and filters them", () => {
  const log = new TrafficLog(3);
  log.addSent("0012d6872005", 0x11, 1);
  log.addReceived(P.parseReceive("110012d6872105" + "28"), 2);
  log.addReceived(P.parseReceive("110012d68737010000"), 3);
  log.addReceived(P.parseReceive("0a0000002a2103" + "18"), 4);
  assert.deepEqual(log.entries.map((e) => e.seq), [2, 3, 4]);
  assert.equal(log.dropped, 1);
  assert.equal(log.select({ unit: 1234567, reports: true }).length, 2);
  assert.equal(log.select({ unit: 1234567, reports: false }).length, 1);
  assert.equal(log.select({ unit: null, reports: false }).length, 2);
  log.clear();
  assert.equal(log.select({}).length, 0);
});

test("a .syx file holds exactly the wire messages, in order", () => {
  const log = new TrafficLog();
  log.addReceived(P.parseReceive(ListStart), 1);
  log.addReceived(P.parseReceive(Announce11), 2);
  log.addSent("0012d68730057f", 0x11, 3);
  log.addReceived(P.parseReceive("110012d68731057f"), 4);
  log.addSent("0012d6872005", null, 5); // to a unit the page does not know: no type, no bytes
  const bytes = TrafficLog.syxBytes(log.select({}));
  assert.deepEqual(bytes, [
    0xf0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2d, 0x4b, 0x00, 0x30, 0x05, 0x7f, 0xf7,
    0xf0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2d, 0x4b, 0x00, 0x31, 0x05, 0x7f, 0xf7,
  ]);
  assert.equal(base64(bytes), Buffer.from(bytes).toString("base64"));

  const text = TrafficLog.textLog(log.select({}));
  const lines = text.trimEnd().split("\n");
  assert.equal(lines.length, 6);
  assert.match(lines[2], /\treceived\t1234567\tannounced 363-414-522\t\t\t110012d687/);
  assert.match(lines[3], /\tsent\t1234567\t30\t05\t7f\t0012d68730057f$/);
});

test("Base64 of every tail length", () => {
  for (const bytes of [[], [0], [0xff, 0x10], [1, 2, 3], [0xf0, 0, 0x11, 0x22], Array.from({ length: 256 }, (_, i) => i)])
    assert.equal(base64(bytes), Buffer.from(bytes).toString("base64"));
});

// The device protocol as the page sees it: the hexadecimal texts of the
// connectors "Send" and "Receive", the units they announce, their state reports
// and parameter answers, and the system-exclusive bytes behind each text.
//
// "Receive" texts are type (2 digits), id (8), command (2), value (2), then two
// digits per payload byte. A discovery opens with 00000000000001 (type 0, id 0,
// command 0, value 1) and announces each unit with command 0, value 1 and a
// 13-byte payload: the 11-character serial, a zero byte and the type again.
// "Send" texts are id (8), command (2), value (2), payload; the device module
// adds the unit's type. On the wire every message is F0 00 11 22, type, the id
// in four 7-bit groups (least significant first), command, value, payload, F7.
//
// No DOM here: the page's views and the tests both use this module.
(function (root, factory) {
  "use strict";
  if (typeof module === "object" && module.exports) module.exports = factory();
  else root.KorvoProtocol = factory();
})(typeof self !== "undefined" ? self : this, function () {
  "use strict";

  const Header = [0xf0, 0x00, 0x11, 0x22];
  const UnitTypes = [0x0a, 0x0b, 0x11, 0x12];
  const MaxId = 0x0fffffff;

  // What the state reports of each type mean.
  const Commands = {
    0x03: "probe answer",
    0x04: "report, unchanged",
    0x05: "report, changed",
    0x10: "poll",
    0x20: "read parameter",
    0x21: "parameter",
    0x22: "probe answer",
    0x30: "write parameter",
    0x31: "parameter written",
    0x37: "report",
  };

  function isWide(type) { return type === 0x11 || type === 0x12; }
  function isUnitType(type) { return UnitTypes.includes(type); }

  function hex2(n) { return (n & 0xff).toString(16).padStart(2, "0"); }
  function hex8(n) { return (n >>> 0).toString(16).padStart(8, "0"); }
  function hexBytes(bytes, separator) { return Array.from(bytes, hex2).join(separator === undefined ? "" : separator); }

  function parseHexBytes(text, from) {
    const bytes = [];
    for (let i = from; i + 1 < text.length; i += 2) bytes.push(parseInt(text.substr(i, 2), 16));
    return bytes;
  }

  // A state report: 0x37 from types 0x11/0x12, 0x04 (nothing changed since the
  // last one) or 0x05 (something changed) from types 0x0A/0x0B. Its value is the
  // number of parameters, its payload the parameter table.
  function isStateReport(type, command) {
    return isWide(type) ? command === 0x37 : command === 0x04 || command === 0x05;
  }

  // The poll the device module sends by itself, which the page never sees as a
  // "Send" text.
  function pollOf(type) { return isWide(type) ? { command: 0x10, value: 0x01 } : { command: 0x02, value: 0x04 }; }

  // The state a report tells, as a short word for the unit list.
  function stateOf(type, command) {
    if (!isStateReport(type, command)) return null;
    if (command === 0x05) return "changed";
    if (command === 0x04) return "steady";
    return "reporting";
  }

  function serialOf(bytes) {
    let serial = "";
    for (const b of bytes) {
      if (b === 0) break;
      serial += String.fromCharCode(b);
    }
    return serial;
  }

  // The serial a unit's id gives, as the device module formats it: digits of the
  // id taken from the right, d(k) = floor(id / 10^k) mod 10.
  function formatSerial(id) {
    const d = (k) => Math.floor(id / Math.pow(10, k)) % 10;
    return `${d(4)}${d(1)}${(d(4) + d(8)) % 10}-${d(3)}${d(6)}${(d(3) + d(7)) % 10}-${d(2)}${(d(2) + d(0)) % 10}${d(5)}`;
  }

  // Parses one "Receive" text. The result has a kind:
  //   "invalid"       not a text this protocol produces (odd length, not hex, too short)
  //   "list"          a discovery starts: the units announced before are gone
  //   "announcement"  {type, id, serial}
  //   "report"        a state report {type, id, command, value, payload, state}
  //   "parameter"     an answer to a read (0x21) or write (0x31): {index, parameter}
  //   "message"       any other unit message
  function parseReceive(text) {
    if (typeof text !== "string" || text.length < 14 || text.length % 2 !== 0 || !/^[0-9a-fA-F]+$/.test(text))
      return { kind: "invalid", text: String(text) };
    const type = parseInt(text.substr(0, 2), 16);
    const id = parseInt(text.substr(2, 8), 16);
    const command = parseInt(text.substr(10, 2), 16);
    const value = parseInt(text.substr(12, 2), 16);
    const payload = parseHexBytes(text, 14);
    const base = { text: text.toLowerCase(), type, id, command, value, payload };
    if (command === 0 && value === 1) {
      if (type === 0 && id === 0 && payload.length === 0) return Object.assign(base, { kind: "list" });
      if (payload.length === 13 && isUnitType(type))
        return Object.assign(base, { kind: "announcement", serial: serialOf(payload.slice(0, 12)) });
    }
    if (isStateReport(type, command))
      return Object.assign(base, { kind: "report", state: stateOf(type, command) });
    if ((command === 0x21 || command === 0x31) && payload.length >= 1)
      return Object.assign(base, { kind: "parameter", index: value, parameter: payload[0], written: command === 0x31 });
    return Object.assign(base, { kind: "message" });
  }

  // Reads a field the user typed as hexadecimal: optional "0x", one or two
  // digits, 00 to 7F (system-exclusive data bytes carry 7 bits).
  function parseDataByte(text, label) {
    const clean = String(text === undefined || text === null ? "" : text).trim().replace(/^0x/i, "");
    if (clean === "") return { error: `${label}: enter a value in hex, 00 to 7F.` };
    if (!/^[0-9a-fA-F]+$/.test(clean)) return { error: `${label}: "${String(text).trim()}" is not hexadecimal; use 0-9 and A-F.` };
    const n = parseInt(clean, 16);
    if (n > 0x7f)
      return { error: `${label}: ${clean.toUpperCase()} is over 7F; the units take 7-bit values, 00 to 7F.` };
    return { value: n };
  }

  // Reads a payload typed as hex pairs; blanks between bytes are allowed.
  function parsePayload(text) {
    const clean = String(text === undefined || text === null ? "" : text).replace(/\s+/g, "");
    if (clean === "") return { value: [] };
    if (!/^[0-9a-fA-F]+$/.test(clean)) return { error: "Payload: only hex digits (0-9, A-F) and blanks are allowed." };
    if (clean.length % 2 !== 0)
      return { error: `Payload: odd number of hex digits (${clean.length}); every byte takes two digits.` };
    const bytes = parseHexBytes(clean, 0);
    const high = bytes.findIndex((b) => b > 0x7f);
    if (high >= 0)
      return { error: `Payload: byte ${high + 1} (${hex2(bytes[high]).toUpperCase()}) is over 7F; the units take 7-bit bytes.` };
    return { value: bytes };
  }

  // Checks what the user typed for a command and builds the "Send" text.
  // Result: {text, command, value, payload} or {error} with a message for the user.
  function buildSend(id, fields) {
    if (!Number.isInteger(id) || id < 1 || id > MaxId) return { error: "Choose a unit first." };
    const command = parseDataByte(fields.command, "Command");
    if (command.error) return command;
    const value = parseDataByte(fields.value, "Value");
    if (value.error) return value;
    const payload = parsePayload(fields.payload);
    if (payload.error) return payload;
    return {
      text: sendText(id, command.value, value.value, payload.value),
      command: command.value,
      value: value.value,
      payload: payload.value,
    };
  }

  function sendText(id, command, value, payload) {
    return hex8(id) + hex2(command) + hex2(value) + hexBytes(payload || []);
  }

  // Parses a "Send" text the way the device module reads it back.
  function parseSend(text) {
    if (typeof text !== "string" || text.length < 12 || !/^[0-9a-fA-F]+$/.test(text)) return null;
    return {
      id: parseInt(text.substr(0, 8), 16),
      command: parseInt(text.substr(8, 2), 16),
      value: parseInt(text.substr(10, 2), 16),
      payload: parseHexBytes(text, 12),
    };
  }

  // The system-exclusive message behind a text.
  function messageBytes(type, id, command, value, payload) {
    const bytes = Header.slice();
    bytes.push(type & 0x7f);
    for (let shift = 0; shift < 28; shift += 7) bytes.push((id >>> shift) & 0x7f);
    bytes.push(command & 0xff, value & 0xff);
    for (const b of payload || []) bytes.push(b & 0xff);
    bytes.push(0xf7);
    return bytes;
  }

  function describeCommand(command) {
    return Commands[command] || "";
  }

  return {
    UnitTypes,
    MaxId,
    isUnitType,
    isStateReport,
    pollOf,
    stateOf,
    formatSerial,
    parseReceive,
    parseSend,
    parseDataByte,
    parsePayload,
    buildSend,
    sendText,
    messageBytes,
    describeCommand,
    hex2,
    hex8,
    hexBytes,
  };
});

// The traffic log: every "Send" and "Receive" text with its time, what it means
// and, for the texts that stand for a message on the wire, the exact
// system-exclusive bytes. It keeps the latest MaxEntries, filters by unit and
// by kind, and writes what the filter lets through as a .syx file or a text
// log. No DOM here.
(function (root, factory) {
  "use strict";
  if (typeof module === "object" && module.exports) module.exports = factory(require("./protocol.js"));
  else root.KorvoTraffic = factory(root.KorvoProtocol);
})(typeof self !== "undefined" ? self : this, function (Protocol) {
  "use strict";

  // Enough for minutes of polling four units; older entries are dropped first.
  const MaxEntries = 5000;

  class TrafficLog {
    constructor(maxEntries) {
      this.maxEntries = maxEntries || MaxEntries;
      this.entries = [];
      this.next = 1;
      this.dropped = 0;
    }

    // A text the page wrote to "Send"; type is the unit's type when the unit is
    // known (the module adds it on the wire), else null.
    addSent(text, type, time) {
      const send = Protocol.parseSend(text);
      if (!send) return this.push({ direction: "out", time, text, kind: "invalid", unit: null });
      return this.push({
        direction: "out",
        time,
        text,
        kind: "command",
        unit: send.id,
        type,
        command: send.command,
        value: send.value,
        payload: send.payload,
        bytes: type === null || type === undefined ? null
                                                   : Protocol.messageBytes(type, send.id, send.command, send.value, send.payload),
      });
    }

    // A text that arrived on "Receive", parsed by Protocol.parseReceive. List
    // starts and announcements come from the device module itself and have no
    // bytes on the wire.
    addReceived(message, time) {
      const wire = message.kind === "report" || message.kind === "parameter" || message.kind === "message";
      return this.push({
        direction: "in",
        time,
        text: message.text,
        kind: message.kind,
        unit: message.kind === "invalid" || message.kind === "list" ? null : message.id,
        type: message.type,
        command: message.command,
        value: message.value,
        payload: message.payload || [],
        serial: message.serial,
        bytes: wire ? Protocol.messageBytes(message.type, message.id, message.command, message.value, message.payload)
                    : null,
      });
    }

    push(entry) {
      entry.seq = this.next++;
      this.entries.push(entry);
      if (this.entries.length > this.maxEntries) {
        const extra = this.entries.length - this.maxEntries;
        this.entries.splice(0, extra);
        this.dropped += extra;
      }
      return entry;
    }

    clear() {
      this.entries = [];
      this.dropped = 0;
    }

    // filter: {unit: id or null for all, reports: whether state reports show}
    select(filter) {
      const unit = filter && filter.unit !== undefined ? filter.unit : null;
      const reports = !filter || filter.reports !== false;
      return this.entries.filter((e) => (unit === null || e.unit === unit) && (reports || e.kind !== "report"));
    }

    // The wire messages among entries, one after another, as a .syx file holds them.
    static syxBytes(entries) {
      const bytes = [];
      for (const e of entries) if (e.bytes) bytes.push(...e.bytes);
      return bytes;
    }

    // One line per entry: time, direction, unit, command, value, payload, text.
    static textLog(entries) {
      const lines = ["# time\tdirection\tunit\tcommand\tvalue\tpayload\ttext"];
      for (const e of entries) {
        const unit = e.unit === null || e.unit === undefined ? "-" : String(e.unit);
        const fields = e.kind === "invalid" || e.kind === "list" || e.kind === "announcement"
                           ? [e.kind === "announcement" ? `announced ${e.serial}` : e.kind, "", ""]
                           : [Protocol.hex2(e.command), Protocol.hex2(e.value), Protocol.hexBytes(e.payload || [], " ")];
        lines.push([formatTime(e.time), e.direction === "out" ? "sent" : "received", unit, ...fields, e.text].join("\t"));
      }
      return lines.join("\n") + "\n";
    }
  }

  // hh:mm:ss.mmm in local time.
  function formatTime(time) {
    const d = new Date(time);
    const p = (n, w) => String(n).padStart(w, "0");
    return `${p(d.getHours(), 2)}:${p(d.getMinutes(), 2)}:${p(d.getSeconds(), 2)}.${p(d.getMilliseconds(), 3)}`;
  }

  const Base64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

  // Standard Base64 of bytes (0-255), the form korvoWriteFile takes for an exact file.
  function base64(bytes) {
    let out = "";
    for (let i = 0; i < bytes.length; i += 3) {
      const n = (bytes[i] << 16) | ((bytes[i + 1] || 0) << 8) | (bytes[i + 2] || 0);
      out += Base64Alphabet[(n >> 18) & 63] + Base64Alphabet[(n >> 12) & 63];
      out += i + 1 < bytes.length ? Base64Alphabet[(n >> 6) & 63] : "=";
      out += i + 2 < bytes.length ? Base64Alphabet[n & 63] : "=";
    }
    return out;
  }

  // UTF-8 bytes of a text, so that a text log is written byte for byte too.
  function utf8(text) {
    return Array.from(new TextEncoder().encode(text));
  }

  return { TrafficLog, MaxEntries, formatTime, base64, utf8 };
});

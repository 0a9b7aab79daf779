// The units the device module announced, with what the page learned from their
// messages since: the state of the latest report, when each was heard last, its
// parameter table and its recent replies. No DOM here.
(function (root, factory) {
  "use strict";
  if (typeof module === "object" && module.exports) module.exports = factory(require("./protocol.js"));
  else root.KorvoUnits = factory(root.KorvoProtocol);
})(typeof self !== "undefined" ? self : this, function (Protocol) {
  "use strict";

  // Replies kept per unit for its panel; state reports are not kept, they
  // arrive every 100 ms or so.
  const RecentReplies = 8;

  class UnitList {
    constructor() {
      this.units = new Map(); // id -> unit, in the order of announcement
      this.discovering = false;
    }

    // Takes one parsed "Receive" text. Returns the unit it concerns, or null.
    // A message from a unit that was not announced is still shown in the
    // traffic, but adds no unit: only discovery makes the list.
    apply(message, time) {
      switch (message.kind) {
        case "list":
          this.units.clear();
          return null;
        case "announcement": {
          const unit = {
            id: message.id,
            type: message.type,
            serial: message.serial,
            state: "announced",
            lastHeard: time,
            parameters: [],
            replies: [],
          };
          this.units.set(message.id, unit);
          return unit;
        }
        case "report":
        case "parameter":
        case "message": {
          const unit = this.units.get(message.id);
          if (!unit || unit.type !== message.type) return null;
          unit.lastHeard = time;
          if (message.kind === "report") {
            unit.state = message.state;
            // A report carries the whole table: value = count, payload = values.
            if (message.payload.length > 0) unit.parameters = message.payload.slice(0, message.value || undefined);
          } else {
            if (message.kind === "parameter") {
              while (unit.parameters.length <= message.index) unit.parameters.push(undefined);
              unit.parameters[message.index] = message.parameter;
            }
            unit.replies.unshift({ time, command: message.command, value: message.value, payload: message.payload });
            unit.replies.length = Math.min(unit.replies.length, RecentReplies);
          }
          return unit;
        }
        default:
          return null;
      }
    }

    get(id) { return this.units.get(id) || null; }
    list() { return Array.from(this.units.values()); }
    get size() { return this.units.size; }
  }

  return { UnitList, RecentReplies };
});

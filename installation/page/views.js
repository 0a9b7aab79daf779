// The page's views: they draw the unit list, the chosen unit's panel and the
// traffic from the models of units.js and traffic.js, and know nothing of the
// connectors. Redrawing is batched into one animation frame, since a report
// from every unit arrives about ten times a second.
"use strict";

const KorvoViews = (function () {
  const P = KorvoProtocol;
  const $ = (id) => document.getElementById(id);
  const TrafficRowsShown = 400;

  function cell(row, text, className) {
    const c = row.insertCell();
    c.textContent = text;
    if (className) c.className = className;
    return c;
  }

  function clock(time) {
    return KorvoTraffic.formatTime(time).slice(0, 8);
  }

  function typeName(type) { return P.hex2(type).toUpperCase(); }

  function unitLabel(unit) { return `${typeName(unit.type)}:${unit.id}`; }

  function showMessage(element, text, bad) {
    element.textContent = text || "";
    element.classList.toggle("bad", !!bad);
  }

  // The unit list: one focusable row per unit; Up and Down move the choice.
  // Rows are updated in place, so that focus and a click in progress survive
  // the reports that arrive many times a second.
  function drawUnits(units, selected) {
    const body = $("units").tBodies[0];
    const list = units.list();
    while (body.rows.length > list.length) body.deleteRow(-1);
    list.forEach((unit, i) => {
      let row = body.rows[i];
      if (!row) {
        row = body.insertRow();
        for (let c = 0; c < 5; ++c) row.insertCell();
      }
      const values = [typeName(unit.type), String(unit.id), unit.serial, unit.state, clock(unit.lastHeard)];
      values.forEach((text, c) => {
        if (row.cells[c].textContent !== text) row.cells[c].textContent = text;
      });
      row.cells[3].className = `state-${unit.state}`;
      row.dataset.unit = String(unit.id);
      row.tabIndex = unit.id === selected ? 0 : -1;
      row.setAttribute("aria-selected", unit.id === selected ? "true" : "false");
    });
    if ((selected === null || !units.get(selected)) && body.rows[0]) body.rows[0].tabIndex = 0;
    $("unitsHint").hidden = units.size > 0;
    $("unitCount").textContent = units.size ? `(${units.size})` : "";
  }

  // The chosen unit's panel: heading, parameter table and recent replies.
  function drawPanel(unit, freshIndex) {
    $("panelEmpty").hidden = !!unit;
    $("panelBody").hidden = !unit;
    $("panelHeading").textContent = unit ? `Unit ${unitLabel(unit)} · ${unit.serial}` : "Unit";
    if (!unit) return;

    const table = $("parameters").tBodies[0];
    table.textContent = "";
    const perRow = 8;
    let row = null;
    unit.parameters.forEach((value, index) => {
      if (index % perRow === 0) row = table.insertRow();
      const c = row.insertCell();
      const label = document.createElement("span");
      label.className = "index";
      label.textContent = P.hex2(index);
      c.append(label, value === undefined ? "··" : P.hex2(value));
      c.title = `Parameter ${P.hex2(index)} = ${value === undefined ? "unknown" : "0x" + P.hex2(value) + " (" + value + ")"}`;
      if (index === freshIndex) c.className = "fresh";
    });

    const replies = $("replies");
    replies.textContent = "";
    for (const reply of unit.replies) {
      const item = document.createElement("li");
      const meaning = P.describeCommand(reply.command);
      item.textContent = `${clock(reply.time)}  ${P.hex2(reply.command)} ${P.hex2(reply.value)} ` +
                         `${P.hexBytes(reply.payload, " ")}${meaning ? "  (" + meaning + ")" : ""}`;
      replies.append(item);
    }
    if (!unit.replies.length) {
      const item = document.createElement("li");
      item.className = "empty";
      item.textContent = "No replies yet.";
      replies.append(item);
    }
  }

  // The unit filter of the traffic follows the unit list but keeps a unit
  // that went away, so that its traffic can still be looked at.
  function drawTrafficUnits(units, chosen) {
    const select = $("trafficUnit");
    const ids = new Set(units.list().map((u) => u.id));
    if (chosen !== null) ids.add(chosen);
    const wanted = ["", ...Array.from(ids, String)];
    const present = Array.from(select.options, (o) => o.value);
    if (wanted.join() !== present.join()) {
      select.textContent = "";
      for (const value of wanted) {
        const unit = value === "" ? null : units.get(Number(value));
        select.add(new Option(value === "" ? "all units" : unit ? unitLabel(unit) : `${value} (gone)`, value));
      }
    }
    select.value = chosen === null ? "" : String(chosen);
  }

  function describe(entry) {
    switch (entry.kind) {
      case "list": return "discovery: new list of units";
      case "announcement": return `announces ${typeName(entry.type)}:${entry.unit}, serial ${entry.serial}`;
      case "invalid": return `not understood: ${entry.text}`;
      default: return null;
    }
  }

  function drawTraffic(log, filter, paused, pausedCount) {
    const shown = log.select(filter);
    const body = $("traffic").tBodies[0];
    body.textContent = "";
    const from = Math.max(0, shown.length - TrafficRowsShown);
    for (let i = shown.length - 1; i >= from; --i) {
      const e = shown[i];
      const row = body.insertRow();
      cell(row, KorvoTraffic.formatTime(e.time));
      cell(row, e.direction === "out" ? "→" : "←", `dir-${e.direction}`).title = e.direction === "out" ? "sent" : "received";
      cell(row, e.unit === null || e.unit === undefined ? "" : String(e.unit));
      const note = describe(e);
      if (note) {
        const c = cell(row, note, "note");
        c.colSpan = 3;
      } else {
        cell(row, P.hex2(e.command)).title = P.describeCommand(e.command);
        cell(row, P.hex2(e.value));
        cell(row, P.hexBytes(e.payload, " "));
      }
      cell(row, e.bytes ? P.hexBytes(e.bytes, " ").toUpperCase() : "—", "raw");
    }
    let count = `${shown.length} shown`;
    if (shown.length > TrafficRowsShown) count += `, latest ${TrafficRowsShown} listed`;
    if (paused) count += ` · paused, ${pausedCount} not recorded`;
    $("trafficCount").textContent = count;
  }

  return { drawUnits, drawPanel, drawTrafficUnits, drawTraffic, showMessage, unitLabel };
})();

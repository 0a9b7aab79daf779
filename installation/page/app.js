// The page's controller: registers the connectors that the project links to
// the device module, turns their texts into the models, sends what the user
// asks for, builds the menu and keeps the view choices in the profile.
"use strict";

const P = KorvoProtocol;
const $ = (id) => document.getElementById(id);

const Profile = "Page";
const Menu = { SaveTraffic: 1, Exit: 2, Rescan: 3, Traffic: 4, RawHex: 5, Reports: 6 };
const MenuOffset = 1024; // the window's command identifiers are the page's plus 1024

const state = {
  units: new KorvoUnits.UnitList(),
  log: new KorvoTraffic.TrafficLog(),
  selected: null, // unit id; kept while the unit is gone so that it comes back chosen
  trafficUnit: null,
  reports: false,
  paused: false,
  pausedCount: 0,
  showTraffic: true,
  rawHex: false,
  freshIndex: -1,
  status: "",
};

// ---- drawing, batched ----
// The traffic table is rebuilt only when something it shows changed.
let drawPending = false;
let trafficChanged = true;
function redraw(traffic) {
  if (traffic !== false) trafficChanged = true;
  if (drawPending) return;
  drawPending = true;
  requestAnimationFrame(() => {
    drawPending = false;
    KorvoViews.drawUnits(state.units, state.selected);
    KorvoViews.drawPanel(state.units.get(state.selected), state.freshIndex);
    KorvoViews.drawTrafficUnits(state.units, state.trafficUnit);
    if (state.showTraffic && trafficChanged)
      KorvoViews.drawTraffic(state.log, trafficFilter(), state.paused, state.pausedCount);
    trafficChanged = false;
  });
}

function trafficFilter() { return { unit: state.trafficUnit, reports: state.reports }; }

function drawStatus() {
  const units = state.units.size;
  let text = state.status || "Initializing...";
  if (!korvoAvailable) text = "Not connected: this page works inside Yonderpad.";
  else if (state.status === "Available") text += ` · ${units} unit${units === 1 ? "" : "s"}`;
  $("status").textContent = text;
  $("status").classList.toggle("bad", !korvoAvailable || state.status === "No device available");
}

// ---- texts from the device module ----
function onReceive(text) {
  const now = Date.now();
  const message = P.parseReceive(text);
  const unit = state.units.apply(message, now);
  if (message.kind === "parameter" && unit && unit.id === state.selected) state.freshIndex = message.index;
  if (state.paused) state.pausedCount++;
  else state.log.addReceived(message, now);
  if (message.kind === "list" || message.kind === "announcement") drawStatus();
  const hidden = message.kind === "report" && !state.reports;
  redraw(!hidden || state.paused);
}

function korvoOnConnectorChanged(name, value) {
  if (name === "Receive") onReceive(value);
  else if (name === "Status") {
    state.status = value;
    drawStatus();
  }
}

// ---- sending ----
function send(unit, fields, messageElement) {
  const built = P.buildSend(unit ? unit.id : null, fields);
  if (built.error) {
    KorvoViews.showMessage(messageElement, built.error, true);
    return false;
  }
  // Logged before it goes: the reply can arrive inside korvoSendValue.
  if (state.paused) state.pausedCount++;
  else state.log.addSent(built.text, unit.type, Date.now());
  const sent = korvoSendValue("Send", built.text, true);
  KorvoViews.showMessage(messageElement, sent === false ? "The command could not be handed over." :
      `Sent ${P.hex2(built.command)} ${P.hex2(built.value)}${built.payload.length ? " " + P.hexBytes(built.payload, " ") : ""}` +
      ` to ${KorvoViews.unitLabel(unit)}.`, sent === false);
  redraw();
  return true;
}

function markInvalid(ids, error) {
  for (const id of ids) $(id).setAttribute("aria-invalid", "false");
  if (!error) return;
  const field = error.startsWith("Command") ? "command" : error.startsWith("Value") ? "value"
              : error.startsWith("Payload") ? "payload" : error.startsWith("Index") ? "parameterIndex"
              : error.startsWith("New value") ? "parameterValue" : null;
  if (field && ids.includes(field)) $(field).setAttribute("aria-invalid", "true");
}

function onSendCommand(event) {
  event.preventDefault();
  const fields = { command: $("command").value, value: $("value").value, payload: $("payload").value };
  const check = P.buildSend(state.selected, fields);
  markInvalid(["command", "value", "payload"], check.error);
  send(state.units.get(state.selected), fields, $("sendMessage"));
}

function onParameter(write) {
  const index = P.parseDataByte($("parameterIndex").value, "Index");
  let error = index.error;
  let fields = null;
  if (!error && write) {
    const value = P.parseDataByte($("parameterValue").value, "New value");
    error = value.error;
    if (!error) fields = { command: "30", value: P.hex2(index.value), payload: P.hex2(value.value) };
  } else if (!error) {
    fields = { command: "20", value: P.hex2(index.value), payload: "" };
  }
  markInvalid(["parameterIndex", "parameterValue"], error);
  if (error) {
    KorvoViews.showMessage($("parameterMessage"), error, true);
    return;
  }
  send(state.units.get(state.selected), fields, $("parameterMessage"));
}

// ---- the unit list ----
function select(id, focus) {
  if (id !== state.selected) {
    state.selected = id;
    state.freshIndex = -1;
    for (const m of ["sendMessage", "parameterMessage"]) KorvoViews.showMessage($(m), "");
    if (id !== null) korvoSetProfileString(Profile, "LastUnit", String(id));
  }
  KorvoViews.drawUnits(state.units, state.selected);
  KorvoViews.drawPanel(state.units.get(state.selected), state.freshIndex);
  if (focus) {
    const row = document.querySelector(`#units tr[data-unit="${id}"]`);
    if (row) row.focus();
  }
}

function onUnitsClick(event) {
  const row = event.target.closest("tr[data-unit]");
  if (row) select(Number(row.dataset.unit), true);
}

function onUnitsKey(event) {
  const row = event.target.closest("tr[data-unit]");
  if (!row) return;
  let target = null;
  if (event.key === "ArrowDown") target = row.nextElementSibling;
  else if (event.key === "ArrowUp") target = row.previousElementSibling;
  else if (event.key === "Home") target = row.parentElement.firstElementChild;
  else if (event.key === "End") target = row.parentElement.lastElementChild;
  else if (event.key === "Enter" || event.key === " ") target = row;
  if (!target) return;
  event.preventDefault();
  select(Number(target.dataset.unit), true);
  if (event.key === "Enter") $("command").focus();
}

// ---- traffic ----
function setPaused(paused) {
  state.paused = paused;
  state.pausedCount = 0;
  $("pauseButton").setAttribute("aria-pressed", String(paused));
  $("pauseButton").textContent = paused ? "Resume" : "Pause";
  redraw();
}

function openSaveDialog() {
  const shown = state.log.select(trafficFilter());
  const wire = shown.filter((e) => e.bytes).length;
  $("saveSummary").textContent = `${shown.length} texts shown in the traffic view, ${wire} of them messages on the wire.` +
      " The file holds what the view shows (its unit filter and the state-report choice apply).";
  KorvoViews.showMessage($("saveMessage"), "");
  const stored = korvoGetProfileString(Profile, "TrafficFile", "");
  $("savePath").value = stored || (korvoGetExeDir(0) || "") + "traffic.syx";
  const format = /\.syx$/i.test($("savePath").value) || !$("savePath").value ? "syx" : "log";
  document.querySelector(`input[name="format"][value="${format}"]`).checked = true;
  $("saveDialog").showModal();
  $("savePath").focus();
}

function onFormatChange(event) {
  const path = $("savePath").value;
  const extension = event.target.value === "syx" ? ".syx" : ".txt";
  if (/\.(syx|txt|log)$/i.test(path)) $("savePath").value = path.replace(/\.(syx|txt|log)$/i, extension);
}

function onSave(event) {
  event.preventDefault();
  const path = $("savePath").value.trim();
  if (!path) {
    KorvoViews.showMessage($("saveMessage"), "Enter the file's path.", true);
    return;
  }
  const format = document.querySelector('input[name="format"]:checked').value;
  const shown = state.log.select(trafficFilter());
  const bytes = format === "syx" ? KorvoTraffic.TrafficLog.syxBytes(shown)
                                 : KorvoTraffic.utf8(KorvoTraffic.TrafficLog.textLog(shown));
  // Mode 2 writes the decoded Base64 byte for byte: no line-end or code-page change.
  const written = korvoWriteFile(path, KorvoTraffic.base64(bytes), 2);
  if (written !== true) {
    KorvoViews.showMessage($("saveMessage"), `Could not write ${path}.`, true);
    return;
  }
  korvoSetProfileString(Profile, "TrafficFile", path);
  $("saveDialog").close();
  const what = format === "syx" ? `${shown.filter((e) => e.bytes).length} messages (${bytes.length} bytes)`
                                : `${shown.length} lines`;
  KorvoViews.showMessage($("trafficMessage"), `Saved ${what} to ${path}.`);
}

// ---- menu and view choices ----
function applyView() {
  document.body.classList.toggle("no-traffic", !state.showTraffic);
  document.body.classList.toggle("raw-hex", state.rawHex);
  $("showReports").checked = state.reports;
  korvoCheckMenuItem(Menu.Traffic + MenuOffset, state.showTraffic ? 1 : 0);
  korvoCheckMenuItem(Menu.RawHex + MenuOffset, state.rawHex ? 1 : 0);
  korvoCheckMenuItem(Menu.Reports + MenuOffset, state.reports ? 1 : 0);
  redraw();
}

function setView(key, value) {
  state[key] = value;
  const names = { showTraffic: "Traffic", rawHex: "RawHex", reports: "StateReports" };
  korvoSetProfileInt(Profile, names[key], value ? 1 : 0);
  applyView();
}

function buildMenu() {
  korvoClearMenu();
  korvoAddMenuItem("&File");
  korvoAddMenuItem("&Save traffic…", Menu.SaveTraffic, 1);
  korvoAddMenuItem("-", 0, 1);
  korvoAddMenuItem("E&xit", Menu.Exit, 1);
  korvoAddMenuItem("&Units");
  korvoAddMenuItem("&Rescan", Menu.Rescan, 2);
  korvoAddMenuItem("&View");
  korvoAddMenuItem("&Traffic", Menu.Traffic, 3);
  korvoAddMenuItem("Raw &hex", Menu.RawHex, 3);
  korvoAddMenuItem("State &reports in traffic", Menu.Reports, 3);
  korvoShowMenu();
}

function korvoOnCommand(id) {
  switch (Number(id)) {
    case Menu.SaveTraffic: openSaveDialog(); break;
    case Menu.Exit: korvoClose(); break;
    case Menu.Rescan:
      // Any value written to "Reset" makes the device module close its ports and discover again.
      korvoSendValue("Reset", 1, true);
      break;
    case Menu.Traffic: setView("showTraffic", !state.showTraffic); break;
    case Menu.RawHex: setView("rawHex", !state.rawHex); break;
    case Menu.Reports: setView("reports", !state.reports); break;
  }
}

function korvoOnQueryClose() { return true; }
function korvoOnExit() {}

// ---- keyboard ----
const Shortcuts = {
  n: () => {
    const row = document.querySelector('#units tr[tabindex="0"]');
    if (row) row.focus();
  },
  c: () => $("command").focus(),
  l: () => $("value").focus(),
  p: () => $("payload").focus(),
  i: () => $("parameterIndex").focus(),
  e: () => $("parameterValue").focus(),
  r: () => onParameter(false),
  w: () => onParameter(true),
  t: () => $("trafficUnit").focus(),
};

function onKey(event) {
  if (!event.altKey || event.ctrlKey || event.metaKey || $("saveDialog").open) return;
  const action = Shortcuts[event.key.toLowerCase()];
  if (!action) return;
  event.preventDefault();
  action();
}

// ---- start ----
function start() {
  $("units").addEventListener("click", onUnitsClick);
  $("units").addEventListener("keydown", onUnitsKey);
  $("sendForm").addEventListener("submit", onSendCommand);
  $("parameterForm").addEventListener("submit", (e) => { e.preventDefault(); onParameter(true); });
  $("readButton").addEventListener("click", () => onParameter(false));
  $("trafficUnit").addEventListener("change", (e) => {
    state.trafficUnit = e.target.value === "" ? null : Number(e.target.value);
    redraw();
  });
  $("showReports").addEventListener("change", (e) => setView("reports", e.target.checked));
  $("pauseButton").addEventListener("click", () => setPaused(!state.paused));
  $("clearButton").addEventListener("click", () => {
    state.log.clear();
    KorvoViews.showMessage($("trafficMessage"), "");
    redraw();
  });
  $("saveButton").addEventListener("click", openSaveDialog);
  $("saveForm").addEventListener("submit", onSave);
  $("saveCancel").addEventListener("click", () => $("saveDialog").close());
  for (const radio of document.querySelectorAll('input[name="format"]')) radio.addEventListener("change", onFormatChange);
  document.addEventListener("keydown", onKey);

  if (!korvoAvailable) {
    drawStatus();
    redraw();
    return;
  }
  state.showTraffic = korvoGetProfileInt(Profile, "Traffic", 1) !== 0;
  state.rawHex = korvoGetProfileInt(Profile, "RawHex", 0) !== 0;
  state.reports = korvoGetProfileInt(Profile, "StateReports", 0) !== 0;
  const last = parseInt(korvoGetProfileString(Profile, "LastUnit", ""), 10);
  state.selected = Number.isInteger(last) && last > 0 ? last : null;

  for (const name of ["Send", "Receive", "Status"]) korvoAddConnector(name, 4, "");
  korvoAddConnector("Reset", 1, 0);
  buildMenu();
  applyView();
  // The status may have been set before the page was there to hear it; read
  // it directly, since a notice asked for while the page loads can be lost.
  const status = korvoGetValue("Status");
  if (typeof status === "string" && status && !state.status) state.status = status;
  drawStatus();
  // Texts on "Receive" before the page listened mean that a discovery ended
  // unheard, and its unit list with it: ask for a new one.
  if (korvoGetValue("Receive")) korvoSendValue("Reset", 1, true);
}

start();

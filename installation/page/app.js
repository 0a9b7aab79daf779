// The demo page: lists the units that the device module announces, shows their
// latest state report and sends commands typed by the user.
"use strict";

const units = new Map();  // id -> {type, serial, state}
const typeNames = { 0x0a: "0A", 0x0b: "0B", 0x11: "11", 0x12: "12" };

function hexByte(text, at) { return parseInt(text.substr(at, 2), 16); }

function renderUnits() {
  const body = document.querySelector("#units tbody");
  body.textContent = "";
  for (const [id, unit] of units) {
    const row = body.insertRow();
    for (const cell of [typeNames[unit.type] || unit.type.toString(16), id, unit.serial, unit.state || ""])
      row.insertCell().textContent = cell;
  }
}

function log(text) {
  const list = document.getElementById("log");
  const item = document.createElement("li");
  item.textContent = text;
  list.prepend(item);
  while (list.children.length > 200) list.lastChild.remove();
}

// Receive texts: type(2) id(8) command(2) value(2) payload(2 each).
function onReceive(text) {
  if (text.length < 14) return;
  const type = hexByte(text, 0), id = parseInt(text.substr(2, 8), 16);
  const command = hexByte(text, 10), value = hexByte(text, 12);
  if (type === 0 && id === 0 && command === 0 && value === 1) {  // a new list of units
    units.clear();
  } else if (command === 0 && value === 1 && text.length === 40) {  // an announcement
    let serial = "";
    for (let i = 14; i < 36; i += 2) serial += String.fromCharCode(hexByte(text, i));
    units.set(id, { type, serial });
  } else if (units.has(id)) {
    units.get(id).state = text.substr(10);
  }
  log(text);
  renderUnits();
}

function korvoOnConnectorChanged(name, value) {
  if (name === "Receive") onReceive(value);
  else if (name === "Status") document.getElementById("status").textContent = value;
}

function korvoOnQueryClose() { return true; }
function korvoOnExit() {}
function korvoOnCommand(id) {
  if (id === "1") korvoSendValue("Reset", 0, true);
  else if (id === "2") korvoClose();
}

document.getElementById("send").addEventListener("submit", (event) => {
  event.preventDefault();
  korvoSendValue("Send", document.getElementById("sendText").value, true);
});

for (const name of ["Send", "Receive", "Status"]) korvoAddConnector(name, 4, "");
korvoAddConnector("Reset", 1, 0);
// A status set before the page was there is asked for once.
korvoReceiveValue("Status");
korvoClearMenu();
korvoAddMenuItem("Units");
korvoAddMenuItem("Rescan", 1, 1);
korvoAddMenuItem("-", 0, 1);
korvoAddMenuItem("Exit", 2, 1);
korvoShowMenu();
korvoReceiveValue("Status");

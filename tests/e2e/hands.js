// The hands of the Wayland story, loaded into the page as a test script
// (KORVO_TEST_USER_SCRIPT) because nothing outside can type into a window on
// a compositor without a seat. The story writes one request at a time into
// the file command.json of its channel folder; this script reads it through
// the page's own file functions, acts on the page as keys would (the page's
// shortcuts, fields, forms and list see the same events), and writes the
// answer into reply.json. The channel folder replaces __CHANNEL__ when the
// story writes this file.
(function () {
  "use strict";
  const channel = __CHANNEL__;
  const external = window.external;
  if (window.top !== window || !external || typeof external.korvoApiCall !== "function") return;
  const readFile = (file) => external.korvoApiCall(152, [channel + "/" + file, 1]);
  const writeFile = (file, text) => external.korvoApiCall(154, [channel + "/" + file, text, 1]);

  // Key names as xdotool gives them, as the page's key events name them.
  const KeyNames = { Return: "Enter", BackSpace: "Backspace", Down: "ArrowDown", Up: "ArrowUp", Left: "ArrowLeft",
                     Right: "ArrowRight", Home: "Home", End: "End", Tab: "Tab", Escape: "Escape", space: " " };

  const focused = () => document.activeElement || document.body;
  const isField = (e) => e && (e.tagName === "INPUT" || e.tagName === "TEXTAREA") &&
                         !["radio", "checkbox", "button", "submit"].includes(e.type);

  function tabbable() {
    const all = document.querySelectorAll("input, select, textarea, button, a[href], [tabindex]");
    return [...all].filter((e) => !e.disabled && e.tabIndex >= 0 && e.getClientRects().length > 0 &&
                                  (!document.querySelector("dialog[open]") || e.closest("dialog[open]")));
  }

  function changed(field) {
    field.dispatchEvent(new Event("input", { bubbles: true }));
  }

  function insert(text) {
    const field = focused();
    if (!isField(field)) return;
    const start = field.selectionStart ?? field.value.length;
    const end = field.selectionEnd ?? field.value.length;
    field.value = field.value.slice(0, start) + text + field.value.slice(end);
    field.selectionStart = field.selectionEnd = start + text.length;
    changed(field);
  }

  // One key, what a person's key press would do: the page's handlers first,
  // then the browser's own action where the page did not take the key.
  function press(name) {
    const parts = name.split("+");
    const base = parts.pop();
    const modifiers = new Set(parts.map((p) => p.toLowerCase()));
    const key = KeyNames[base] || (base.length === 1 ? base : base);
    const target = focused();
    const event = new KeyboardEvent("keydown", { key, bubbles: true, cancelable: true, altKey: modifiers.has("alt"),
                                                 ctrlKey: modifiers.has("ctrl"), shiftKey: modifiers.has("shift") });
    if (!target.dispatchEvent(event)) return;
    if (modifiers.has("ctrl") && key.toLowerCase() === "a") {
      if (isField(target)) target.select();
    } else if (key === "Backspace" && isField(target)) {
      if (target.selectionStart === target.selectionEnd && target.selectionStart > 0) target.selectionStart -= 1;
      insert("");
    } else if (key === "Tab") {
      const order = tabbable();
      const next = order[(order.indexOf(target) + (modifiers.has("shift") ? order.length - 1 : 1)) % order.length];
      if (next) next.focus();
    } else if (key === "Enter") {
      if (target.tagName === "BUTTON") target.click();
      else if (target.form) target.form.requestSubmit();
    } else if (key === "Escape") {
      const dialog = document.querySelector("dialog[open]");
      if (dialog) dialog.close();
    } else if (key.length === 1 && modifiers.size === 0) {
      insert(key);
    }
  }

  const actions = {
    keys: (request) => request.names.forEach(press),
    type: (request) => [...request.text].forEach((c) => insert(c)),
    read: () => document.body.innerText,
    // Where a person clicks on the page's header: no field keeps the focus.
    blur: () => {
      if (document.activeElement) document.activeElement.blur();
      window.getSelection().removeAllRanges();
    },
    // A menu command, as the window's menu hands it to the page.
    command: (request) => window.korvoOnCommand(String(request.id)),
    size: () => ({ width: window.innerWidth, height: window.innerHeight }),
  };

  // A request already in the channel belongs to an earlier page.
  let done = -1;
  try {
    done = (JSON.parse(readFile("command.json") || "null") || { seq: -1 }).seq;
  } catch (e) { /* none yet */ }
  // An answer the page could not write yet (the file functions report
  // failure, or the call failed): written again on the next turns, so a
  // request is never done twice and never left without answer.
  let unsent = null;
  function send(text) {
    try {
      unsent = writeFile("reply.json", text) === true ? null : text;
    } catch (e) {
      unsent = text;
    }
  }
  function poll() {
    if (unsent !== null) {
      send(unsent);
      return;
    }
    let request;
    try {
      request = JSON.parse(readFile("command.json") || "null");
    } catch (e) {
      return; // written half, or not read this turn: read again on the next
    }
    if (!request || request.seq <= done) return;
    done = request.seq;
    const reply = { seq: request.seq };
    try {
      reply.value = actions[request.op](request);
    } catch (e) {
      reply.error = String(e && e.stack || e);
    }
    send(JSON.stringify(reply));
  }
  // Each page (and each reload) says it is there, then serves requests.
  writeFile("ready.json", JSON.stringify({ at: Date.now() }));
  setInterval(poll, 25);
})();

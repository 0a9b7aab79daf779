// The story a person goes through with the installed program and two units,
// told once for both ways of reaching them (simulated in the process, or the
// simulator program on a JACK server): the page lists the units, a command and
// a parameter write and read reach the chosen unit and their replies show,
// bad input is refused with a message and sends nothing, Rescan rediscovers,
// the traffic is saved as a .syx file and the window closes with exit code 0.
// Every step goes through the page's own controls: keys and the menu.
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const { Desktop, Jack, have, waitFor, sleep } = require("./desktop.js");

const Units = "11:1234567,0a:42";
const Serials = { 1234567: "363-414-522", 42: "040-000-020" };

// The wire bytes of a message to or from unit 11:1234567.
function message11(command, value, payload = []) {
  return [0xf0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2d, 0x4b, 0x00, command, value, ...payload, 0xf7];
}
const hex = (bytes) => bytes.map((b) => b.toString(16).padStart(2, "0").toUpperCase()).join(" ");

// The unit list and panel come before the traffic view in the page's text.
function unitsPart(text) {
  const at = text.indexOf("Traffic of");
  return at < 0 ? text : text.slice(0, at);
}

function missingTools(tools) {
  return tools.filter((t) => !have(t));
}

// options: dist, jack, screenshot; Server (another JACK server than jackd,
// such as PipeWire's), Desktop (another desktop, with its own
// tools) and, for checks of the window's placement, seed(folder) before the
// first start, placement(storedSettings) after the first close and
// relaunched(desk) after the second start.
async function story(t, options) {
  const { dist, jack, screenshot } = options;
  const DesktopKind = options.Desktop || Desktop;
  const missing = missingTools(DesktopKind.tools || ["Xvfb", "xdotool", "xclip"]);
  assert.deepEqual(missing, [], `the end-to-end tests need ${missing.join(", ")} (bash .ci/install)`);
  let server = null;
  const env = { KORVO_MIDI: jack ? "jack" : "sim" };
  if (jack) {
    server = new (options.Server || Jack)("korvo-e2e");
    Object.assign(env, server.clientEnv());
  } else {
    env.KORVO_SIM_UNITS = Units;
  }
  const desk = new DesktopKind(dist, env);
  const simulator = path.join(dist, "bin", "yonderpad-unit-simulator");
  const shots = process.env.KORVO_E2E_SHOTS || path.join(desk.folder, "shots");
  fs.mkdirSync(shots, { recursive: true });
  desk.shots = shots;
  t.after(async () => {
    await desk.stop();
    if (server) await server.stop();
  });

  await desk.start();
  if (options.seed) options.seed(desk.folder);
  if (jack) {
    assert.ok(await server.start(), "jackd did not start");
    assert.ok(await server.startSimulator(simulator, Units), "the simulator program did not start");
  }
  assert.ok(await desk.launch(), `the window did not appear\n${desk.programOutput}`);
  const sentLog = () => (server ? server.log : "");
  // JACK on a dummy server without realtime scheduling now and then loses an
  // event, and with it a probe, an answer or the notice of a port going away;
  // a person would then ask for a rescan, and so does the story, once.
  async function readUnits(check, timeoutMs) {
    const text = await desk.readUntil(check, timeoutMs);
    if (text || !jack) return text;
    await desk.menu("alt+u", "Return");
    return desk.readUntil(check, 15000);
  }

  await t.test("the page lists both units with their serials", async () => {
    const text = await readUnits((s) => unitsPart(s).includes(Serials[1234567]) && unitsPart(s).includes(Serials[42]),
                                 20000);
    assert.ok(text, `units not listed; the page shows:\n${desk.lastRead}\n${desk.programOutput}`);
    assert.match(text, /Available · 2 units/);
  });

  await t.test("the unit is chosen in the list", async () => {
    await desk.keys("alt+n", "Home");
    const chosen = await waitFor(async () => {
      const text = await desk.read();
      if (text.includes("Unit 11:1234567 · 363-414-522")) return true;
      await desk.keys("alt+n", "Down");
      return false;
    }, 8000, 100);
    assert.ok(chosen, `unit 11:1234567 could not be chosen:\n${desk.lastRead}`);
  });

  const sent = []; // the wire messages the story sent, with the replies it expects

  // Waits for a reply; over JACK a lost request or reply is sent again once,
  // as a person would, and the file of the traffic then holds the request twice.
  async function awaitReply(check, request, resend, what) {
    let text = await desk.readUntil(check, 8000);
    if (!text && jack) {
      sent.splice(sent.length - 1, 0, request);
      await resend();
      text = await desk.readUntil(check, 8000);
    }
    assert.ok(text, `no ${what}:\n${desk.lastRead}`);
    return text;
  }
  async function command(fields, request, reply, replyText) {
    const logMark = sentLog().length;
    await desk.keys("alt+c");
    await desk.fill(fields.command);
    await desk.keys("Tab");
    await desk.fill(fields.value);
    await desk.keys("Tab");
    await desk.fill(fields.payload || "");
    await desk.keys("Return");
    sent.push(request, reply);
    const text = await awaitReply((s) => replyText.test(unitsPart(s)), request, () => desk.keys("alt+p", "Return"),
                                  `reply ${replyText} in the unit's panel`);
    if (server) assert.ok(sentLog().slice(logMark).includes(`11:1234567 < ${hex(request)}\n`),
                          `the simulator did not receive ${hex(request)}:\n${sentLog().slice(logMark)}`);
    return text;
  }

  await t.test("a command reaches the unit and its reply shows in the panel and the traffic", async () => {
    const text = await command({ command: "20", value: "05" }, message11(0x20, 0x05), message11(0x21, 0x05, [0x28]),
                               /21 05 28\s+\(parameter\)/);
    const traffic = text.slice(text.indexOf("Traffic of"));
    assert.match(traffic, /←\s+1234567\s+21\s+05\s+28/);
    assert.match(traffic, /→\s+1234567\s+20\s+05/);
  });

  await t.test("a parameter written and read back shows the new value", async () => {
    await desk.keys("alt+i");
    await desk.fill("03");
    await desk.keys("alt+e");
    await desk.fill("55");
    await desk.keys("alt+w");
    sent.push(message11(0x30, 0x03, [0x55]), message11(0x31, 0x03, [0x55]));
    await awaitReply((s) => /31 03 55\s+\(parameter written\)/.test(s), message11(0x30, 0x03, [0x55]),
                     () => desk.keys("alt+w"), "answer to the write");
    await desk.keys("alt+r");
    sent.push(message11(0x20, 0x03), message11(0x21, 0x03, [0x55]));
    await awaitReply((s) => /21 03 55\s+\(parameter\)/.test(s), message11(0x20, 0x03), () => desk.keys("alt+r"),
                     "answer to the read");
    if (server) {
      assert.ok(server.log.includes(`11:1234567 < ${hex(message11(0x30, 0x03, [0x55]))}\n`));
      assert.ok(server.log.includes(`11:1234567 < ${hex(message11(0x20, 0x03))}\n`));
    }
    if (screenshot) await desk.screenshot(path.join(shots, `${jack ? "jack" : "sim"}-units-and-traffic.png`));
  });

  await t.test("bad input gives a clear message and sends nothing", async (step) => {
    const cases = [
      { fields: { command: "20", value: "80", payload: "" }, message: "Value: 80 is over 7F", wire: "20 80" },
      { fields: { command: "30", value: "02", payload: "123" }, message: "Payload: odd number of hex digits (3)",
        wire: "30 02 12" },
      { fields: { command: "30", value: "02", payload: "01 ff" }, message: "Payload: byte 2 (FF) is over 7F",
        wire: "30 02 01" },
    ];
    for (const c of cases) {
      const before = (await desk.readUntil((s) => /\d+ shown/.test(s), 5000) || "").match(/(\d+) shown/);
      const logMark = sentLog().length;
      const enter = async () => {
        await desk.keys("alt+c");
        await desk.fill(c.fields.command);
        await desk.keys("Tab");
        await desk.fill(c.fields.value);
        await desk.keys("Tab");
        await desk.fill(c.fields.payload);
        await desk.keys("Return");
      };
      await enter();
      let text = await desk.readUntil((s) => s.includes(c.message), 5000);
      if (!text) {
        // The X server now and then loses a key; a person who saw no answer
        // would type the line again. Nothing may have been sent either way.
        step.diagnostic(`no message "${c.message}" after the first typing; typed again`);
        await enter();
        text = await desk.readUntil((s) => s.includes(c.message), 5000);
      }
      assert.ok(text, `no message "${c.message}":\n${desk.lastRead}`);
      await sleep(jack ? 600 : 200);
      const after = (await desk.readUntil((s) => /\d+ shown/.test(s), 5000) || "").match(/(\d+) shown/);
      assert.equal(after && after[1], before && before[1], "the traffic grew after bad input");
      assert.ok(!sentLog().slice(logMark).includes(c.wire), `bytes ${c.wire} reached the unit`);
    }
  });

  await t.test("Rescan from the menu rediscovers both units", async () => {
    const lists = (s) => (s.match(/discovery: new list of units/g) || []).length;
    const before = lists(await desk.read());
    await desk.menu("alt+u", "Return");
    const text = await desk.readUntil((s) => lists(s) > before && unitsPart(s).includes(Serials[1234567]) &&
                                             unitsPart(s).includes(Serials[42]), 15000);
    assert.ok(text, `no rediscovery:\n${desk.lastRead}`);
  });

  if (jack) {
    await t.test("stopping the simulator empties the list, restarting it brings the units back", async () => {
      await server.stopSimulator();
      const gone = (s) => /No device available/.test(s) && !unitsPart(s).includes(Serials[42]);
      let text = await readUnits(gone, 10000);
      assert.ok(text, `the units stayed:\n${desk.lastRead}`);
      assert.ok(!unitsPart(text).includes(Serials[1234567]));
      assert.ok(await server.startSimulator(simulator, Units), "the simulator program did not start again");
      const back = (s) => unitsPart(s).includes(Serials[1234567]) && unitsPart(s).includes(Serials[42]);
      text = await readUnits(back, 20000);
      assert.ok(text, `the units did not come back:\n${desk.lastRead}`);
      // The unit chosen before comes back chosen.
      assert.match(text, /Unit 11:1234567 · 363-414-522/);
    });
  }

  await t.test("Save traffic… writes exactly the messages sent and received", async (step) => {
    const file = path.join(desk.folder, "traffic.syx");
    const save = async (openMs) => {
      await desk.menu("alt+f", "Return");
      await sleep(openMs); // the dialog opens with the file field focused
      await desk.fill(file);
      await desk.keys("Return");
      return waitFor(() => fs.existsSync(file), 5000, 100);
    };
    let written = await save(800);
    if (!written) {
      // On a slow machine the dialog may open only after the name was typed.
      // A person would close it and choose Save traffic… again, giving it
      // time to open.
      step.diagnostic("no file after the first try; the dialog is closed and opened again");
      await desk.keys("Escape");
      written = await save(3000);
    }
    assert.ok(written, `no file written:\n${await desk.read()}\nthe program's output ends:\n${tail(desk.programOutput)}`);
    assert.equal(hex([...fs.readFileSync(file)]), hex(sent.flat()));
    const text = await desk.readUntil((s) => s.includes(`Saved ${sent.length} messages`), 3000);
    assert.ok(text, `no confirmation:\n${desk.lastRead}`);
  });

  await t.test("View → Raw hex shows the bytes of each message", async () => {
    await desk.menu("alt+v", "Down", "Return");
    const text = await desk.readUntil((s) => s.includes(hex(message11(0x21, 0x03, [0x55]))), 5000);
    assert.ok(text, `no raw bytes:\n${desk.lastRead}\nthe program's output ends:\n${tail(desk.programOutput)}`);
  });

  await t.test("closing the window saves its placement and ends the program with exit code 0", async () => {
    await desk.menu("alt+f", "Up", "Return");
    const result = await Promise.race([desk.exited(), sleep(15000).then(() => null)]);
    const settings = findFile(path.join(desk.folder, "config"), /\.conf$/);
    assert.ok(settings, "no settings file");
    const stored = fs.readFileSync(settings, "utf8");
    assert.match(stored, /\[Mainframe\][^[]*MainRight=\d+/);
    assert.match(stored, /LastUnit=1234567/);
    assert.match(stored, /RawHex=1/);
    if (options.placement) options.placement(settings, stored);
    assertCleanExit(result, desk.programOutput);
  });

  if (!jack) {
    await t.test("the next start remembers the view choices and the chosen unit", async () => {
      assert.ok(await desk.launch(), "the window did not appear again");
      const text = await desk.readUntil((s) => s.includes("Unit 11:1234567 · 363-414-522") && /\bRaw\b/.test(s), 20000);
      assert.ok(text, `not remembered:\n${desk.lastRead}`);
      if (options.relaunched) await options.relaunched(desk);
      await desk.menu("alt+f", "Up", "Return");
      const result = await Promise.race([desk.exited(), sleep(15000).then(() => null)]);
      assertCleanExit(result, desk.programOutput);
    });
  }
}

// The last lines of the program's output, for a failure's message.
const tail = (output) => output.split("\n").slice(-15).join("\n");

// The program must end with exit code 0; in a sanitized build a leak or an
// error report at exit makes it end otherwise.
function assertCleanExit(result, output) {
  assert.deepEqual(result, { code: 0, signal: null }, `program ended with ${JSON.stringify(result)}; its output ends:\n` +
                   tail(output));
}

function findFile(dir, pattern) {
  for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
    const full = path.join(dir, entry.name);
    if (entry.isDirectory()) {
      const found = findFile(full, pattern);
      if (found) return found;
    } else if (pattern.test(entry.name)) {
      return full;
    }
  }
  return null;
}

module.exports = { story };

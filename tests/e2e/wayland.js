// The installed program on a Wayland desktop: a private headless Weston
// instead of Xvfb, GTK on its Wayland backend. Weston's headless backend has
// no seat, so no key can reach the window from outside; the story's hands are
// a test script in the page (hands.js, loaded through KORVO_TEST_USER_SCRIPT)
// that takes requests through a channel folder and acts on the page as the
// keys would. The window's menu is native and out of that script's reach: a
// menu choice is handed to the page the way the menu hands it
// (korvoOnCommand with the entry's command number); the X11 stories choose
// the same entries from the real menu.
"use strict";

const { spawn } = require("node:child_process");
const fs = require("node:fs");
const path = require("node:path");
const { Desktop, waitFor, sleep } = require("./desktop.js");

// The page's menu (buildMenu in the shipped page's app.js) as the story
// walks it with keys: each menu key opens a list of command numbers, the
// first entry highlighted; Down and Up move (wrapping), Return chooses.
const Menus = { "alt+f": [1, 2], "alt+u": [3], "alt+v": [4, 5, 6] };

class WaylandDesktop extends Desktop {
  static tools = ["weston"];

  async start() {
    const home = (name) => {
      const dir = path.join(this.folder, name);
      fs.mkdirSync(dir, { mode: 0o700 });
      return dir;
    };
    const runtime = home("runtime");
    const config = home("config");
    // The compositor's socket lies in the program's runtime folder, the only
    // place the web process's sandbox lets it reach.
    const weston = spawn("weston", ["--backend=headless-backend.so", "--socket=wayland-e2e", "--idle-time=0",
                                    "--width=1024", "--height=768"],
                         { env: Object.assign({}, process.env, { XDG_RUNTIME_DIR: runtime, XDG_CONFIG_HOME: config }),
                           stdio: "ignore" });
    this.x = { child: weston };
    const up = await waitFor(() => fs.existsSync(path.join(runtime, "wayland-e2e")) || weston.exitCode !== null,
                             10000, 50);
    if (!up || weston.exitCode !== null) throw new Error("weston did not start");
    this.channel = home("channel");
    const hands = path.join(this.folder, "hands.js");
    fs.writeFileSync(hands, fs.readFileSync(path.join(__dirname, "hands.js"), "utf8")
      .replace("const channel = __CHANNEL__;", `const channel = ${JSON.stringify(this.channel)};`));
    this.env = Object.assign({}, process.env, {
      GDK_BACKEND: "wayland",
      WAYLAND_DISPLAY: "wayland-e2e",
      NO_AT_BRIDGE: "1",
      XDG_CONFIG_HOME: config,
      XDG_CACHE_HOME: home("cache"),
      XDG_RUNTIME_DIR: runtime,
      KORVO_TEST_USER_SCRIPT: hands,
    }, this.extraEnv);
    delete this.env.DISPLAY;
    this.seq = 0;
  }

  async launch() {
    const ready = path.join(this.channel, "ready.json");
    fs.rmSync(ready, { force: true });
    this.spawnProgram();
    return Boolean(await waitFor(() => fs.existsSync(ready) || this.program.exitCode !== null, 30000, 100)) &&
           this.program.exitCode === null;
  }

  // One request to the hands in the page; its answer. A request that may end
  // the program (the Exit command) is not waited for once the program ended.
  async request(op, fields = {}) {
    const seq = ++this.seq;
    const command = path.join(this.channel, "command.json");
    fs.writeFileSync(command + ".new", JSON.stringify(Object.assign({ seq, op }, fields)));
    fs.renameSync(command + ".new", command);
    let reply = null;
    await waitFor(() => {
      if (this.program.exitCode !== null || this.program.signalCode !== null) return true;
      try {
        const text = fs.readFileSync(path.join(this.channel, "reply.json"), "utf8").replace(/^\uFEFF/, "");
        const parsed = JSON.parse(text);
        if (parsed.seq === seq) reply = parsed;
      } catch (e) { /* not there yet */ }
      return reply !== null;
    }, 20000, 20);
    if (reply === null) {
      if (this.program.exitCode !== null || this.program.signalCode !== null) return undefined;
      throw new Error(`the page did not answer ${op}\n${this.programOutput}`);
    }
    if (reply.error) throw new Error(`${op} failed in the page: ${reply.error}`);
    return reply.value;
  }

  async keys(...names) {
    for (const name of names) {
      await this.request("keys", { names: [name] });
      await sleep(30);
    }
  }

  async type(text) {
    await this.request("type", { text });
  }

  async clickHeader() {
    await this.request("blur");
  }

  async read() {
    await this.clickHeader();
    const text = await this.request("read");
    return typeof text === "string" && text.includes("Yonderpad") ? text : "";
  }

  async menu(key, ...choose) {
    const entries = Menus[key];
    if (!entries) throw new Error(`no menu on ${key}`);
    let at = 0;
    for (const name of choose) {
      if (name === "Down") at = (at + 1) % entries.length;
      else if (name === "Up") at = (at + entries.length - 1) % entries.length;
      else if (name === "Return") await this.request("command", { id: entries[at] });
      else throw new Error(`no menu key ${name}`);
    }
    await sleep(150);
  }

  // The page's view size (the window's content below the menu bar).
  async viewSize() { return this.request("size"); }

  async resize() {}

  // Weston's headless output cannot be captured without its debug protocol.
  async screenshot() { return false; }
}

module.exports = { WaylandDesktop };

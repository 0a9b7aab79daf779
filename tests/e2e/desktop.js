// What the end-to-end stories need around the installed program: a private X
// server, the program in a private settings, runtime and cache folder, a
// private JACK server with the unit simulator program, and a person's hands
// and eyes on the window: keys typed with xdotool, and the page's text read
// the way a person would copy it (select all, copy, read the clipboard).
"use strict";

const { spawn, spawnSync, execFileSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function have(program) {
  return spawnSync("sh", ["-c", `command -v ${program}`]).status === 0;
}

// Waits until check() gives a truthy value; returns it, or null after timeoutMs.
async function waitFor(check, timeoutMs, stepMs = 150) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) return null;
    await sleep(stepMs);
  }
}

function exited(child) {
  return new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) resolve({ code: child.exitCode, signal: child.signalCode });
    else child.once("exit", (code, signal) => resolve({ code, signal }));
  });
}

async function stop(child, timeoutMs = 5000) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return;
  child.kill("SIGTERM");
  const done = await Promise.race([exited(child), sleep(timeoutMs).then(() => null)]);
  if (!done) {
    child.kill("SIGKILL");
    await exited(child);
  }
}

// A private Xvfb on the first free display number from 140 on.
async function startXvfb() {
  for (let n = 140; n < 200; ++n) {
    if (fs.existsSync(`/tmp/.X11-unix/X${n}`) || fs.existsSync(`/tmp/.X${n}-lock`)) continue;
    const child = spawn("Xvfb", [`:${n}`, "-screen", "0", "1024x768x24", "-nolisten", "tcp"], { stdio: "ignore" });
    const up = await waitFor(() => fs.existsSync(`/tmp/.X11-unix/X${n}`) || child.exitCode !== null, 5000, 50);
    if (up && child.exitCode === null) return { display: `:${n}`, child };
    await stop(child);
  }
  throw new Error("no free display for Xvfb");
}

// A JACK server of its own (dummy driver, period 256) and the simulator,
// under a lease on its name kept as the C++ tests keep it
// (tests/midiservices/JackServerLease.h): a lock file serialises the name's
// users and records the server's pid until it stopped cleanly. JACK keeps only
// 8 server registrations per machine; a fixed name is freed again by the next
// clean start and stop, once the process that a killed run left is gone.
class Jack {
  constructor(name) {
    this.name = name;
    this.lockFile = `/tmp/${name}.jack.lock`;
    this.env = Object.assign({}, process.env, this.clientEnv());
  }

  // What a JACK program needs in its environment to reach this server.
  clientEnv() {
    return { JACK_DEFAULT_SERVER: this.name, JACK_NO_START_SERVER: "1" };
  }

  async start() {
    // flock -o holds the lock in flock itself, so killing its process group frees it.
    this.lock = spawn("flock", ["-o", this.lockFile, "-c", "echo locked; exec sleep 3600"],
                      { stdio: ["ignore", "pipe", "ignore"], detached: true });
    let locked = false;
    this.lock.stdout.on("data", () => { locked = true; });
    if (!(await waitFor(() => locked, 120000, 50))) return false;
    await this.clearLeftovers();
    this.server = spawn("jackd", ["-n", this.name, "--no-realtime", "--port-max", "64", "-d", "dummy", "-r", "48000",
                                  "-p", "256"], { stdio: "ignore", env: this.env });
    fs.writeFileSync(this.lockFile, String(this.server.pid));
    return waitFor(() => spawnSync("jack_lsp", [], { env: this.env, stdio: "ignore" }).status === 0, 10000, 100);
  }

  // The server that a killed run left under the name: stopped as stop() does
  // when it still runs, and waited for until its process is gone (JACK does not
  // take the name back from a process that exists, a zombie included).
  async clearLeftovers() {
    const read = (file) => { try { return fs.readFileSync(file, "utf8"); } catch (e) { return ""; } };
    const last = Number(read(this.lockFile)) || 0;
    if (!last || read(`/proc/${last}/comm`) !== "jackd\n") return;
    const stat = read(`/proc/${last}/stat`);
    const zombie = stat.slice(stat.lastIndexOf(")")).startsWith(") Z");
    if (!zombie && read(`/proc/${last}/cmdline`).split("\0").includes(this.name)) {
      spawnSync("jack_lsp", [], { env: this.env, stdio: "ignore", timeout: 5000 });
      try { process.kill(last, "SIGTERM"); } catch (e) { /* already gone */ }
    }
    await waitFor(() => !fs.existsSync(`/proc/${last}`), 10000, 20);
  }

  // The simulator program; its --log lines collect in this.log.
  async startSimulator(program, units) {
    this.log = "";
    this.simulator = spawn(program, ["--log", units], { env: this.env, stdio: ["ignore", "pipe", "ignore"] });
    this.simulator.stdout.on("data", (chunk) => { this.log += chunk.toString(); });
    return waitFor(() => this.log.includes("ready\n") || this.simulator.exitCode !== null, 10000, 50)
        && this.simulator.exitCode === null;
  }

  async stopSimulator() { await stop(this.simulator); }

  async stop() {
    await this.stopSimulator();
    if (this.server) {
      spawnSync("jack_lsp", [], { env: this.env, stdio: "ignore", timeout: 5000 }); // lets it shut down cleanly
      await stop(this.server);
      if (this.server.exitCode === 0) fs.writeFileSync(this.lockFile, "");
    }
    if (this.lock) {
      try { process.kill(-this.lock.pid, "SIGTERM"); } catch (e) { /* already gone */ }
    }
  }
}

// The installed program under a private display and private folders, and the
// keyboard and clipboard of a person in front of it.
class Desktop {
  constructor(dist, env) {
    this.dist = dist;
    this.extraEnv = env;
    this.folder = fs.mkdtempSync(path.join(os.tmpdir(), "yonderpad-e2e-"));
    this.programOutput = "";
  }

  async start() {
    this.x = await startXvfb();
    const home = (name) => {
      const dir = path.join(this.folder, name);
      fs.mkdirSync(dir, { mode: 0o700 });
      return dir;
    };
    this.env = Object.assign({}, process.env, {
      DISPLAY: this.x.display,
      NO_AT_BRIDGE: "1",
      XDG_CONFIG_HOME: home("config"),
      XDG_CACHE_HOME: home("cache"),
      XDG_RUNTIME_DIR: home("runtime"),
    }, this.extraEnv);
  }

  // Starts the installed program; its output collects in this.programOutput.
  spawnProgram() {
    this.programOutput = "";
    this.program = spawn(path.join(this.dist, "bin", "Yonderpad"), [], {
      env: this.env,
      cwd: this.folder,
      stdio: ["ignore", "pipe", "pipe"],
    });
    for (const stream of [this.program.stdout, this.program.stderr])
      stream.on("data", (chunk) => { this.programOutput += chunk.toString(); });
  }

  async launch() {
    this.spawnProgram();
    this.window = await waitFor(() => {
      const r = this.xdotool(["search", "--onlyvisible", "--pid", String(this.program.pid)], true);
      return r ? r.trim().split("\n")[0] : null;
    }, 20000, 200);
    if (!this.window) return false;
    this.xdotool(["windowfocus", "--sync", this.window], true);
    return true;
  }

  xdotool(args, quiet) {
    const r = spawnSync("xdotool", args, { env: this.env, encoding: "utf8", timeout: 10000 });
    if (r.status !== 0) {
      if (quiet) return null;
      throw new Error(`xdotool ${args.join(" ")}: ${r.stderr}`);
    }
    return r.stdout;
  }

  // Keys as xdotool names them ("alt+c", "Return", "Down").
  async resize(width, height) {
    this.xdotool(["windowsize", "--sync", this.window, String(width), String(height)], true);
    await sleep(300);
  }

  async keys(...names) {
    this.xdotool(["windowfocus", "--sync", this.window], true);
    for (const name of names) {
      this.xdotool(["key", "--clearmodifiers", name]);
      await sleep(60);
    }
  }

  // A key typed within a few milliseconds of the same key's release is now
  // and then lost on a busy X server ("ff" arriving as "f"), so keys go out
  // at a person's pace.
  async type(text) {
    this.xdotool(["type", "--delay", "60", text]);
    await sleep(60);
  }

  // Empties the focused field and types text into it.
  async fill(text) {
    await this.keys("ctrl+a", "BackSpace");
    if (text) await this.type(text);
  }

  // A click on the page's header, where nothing takes the focus: leaves any
  // field and drops a selection.
  async clickHeader() {
    const geometry = this.xdotool(["getwindowgeometry", "--shell", this.window]);
    const at = Object.fromEntries(geometry.trim().split("\n").map((l) => l.split("=")));
    this.xdotool(["mousemove", String(Number(at.X) + Number(at.WIDTH) - 20), String(Number(at.Y) + 40)]);
    this.xdotool(["click", "1"]);
    await sleep(50);
  }

  // The page's visible text as a person copies it: select all, copy, read the clipboard.
  // On a busy machine a copy now and then comes back empty; it is tried again.
  async read() {
    for (let attempt = 0; attempt < 4; ++attempt) {
      await this.clickHeader();
      spawnSync("xclip", ["-selection", "clipboard", "-i", "/dev/null"], { env: this.env, timeout: 5000 });
      await this.keys("ctrl+a", "ctrl+c");
      await sleep(50);
      const r = spawnSync("xclip", ["-selection", "clipboard", "-o"], { env: this.env, encoding: "utf8", timeout: 5000 });
      if (r.status === 0 && r.stdout.includes("Yonderpad")) return r.stdout;
      await sleep(200);
    }
    return "";
  }

  // Opens a menu of the menu bar by its key (alt+f) and chooses an entry with
  // the given keys; the menu gets time to open first.
  async menu(key, ...choose) {
    await this.keys(key);
    await sleep(400);
    for (const name of choose) {
      this.xdotool(["key", "--clearmodifiers", name]);
      await sleep(150);
    }
  }

  // Reads the page until check(text) holds; the last text read, or null.
  async readUntil(check, timeoutMs = 10000) {
    let last = "";
    const found = await waitFor(async () => {
      last = await this.read();
      return check(last);
    }, timeoutMs, 250);
    this.lastRead = last;
    if (!found && this.shots) {
      // What the window showed when the story gave up.
      this.failures = (this.failures || 0) + 1;
      await this.screenshot(path.join(this.shots, `gave-up-${this.failures}.png`));
    }
    return found ? last : null;
  }

  async screenshot(file) {
    await this.clickHeader();
    await sleep(300);
    const r = spawnSync("import", ["-window", this.window, file], { env: this.env, timeout: 20000 });
    return r.status === 0;
  }

  exited() { return exited(this.program); }

  async stop() {
    await stop(this.program);
    if (this.x) await stop(this.x.child);
    if (!process.env.KORVO_E2E_KEEP) fs.rmSync(this.folder, { recursive: true, force: true });
  }
}

module.exports = { Desktop, Jack, have, waitFor, sleep };

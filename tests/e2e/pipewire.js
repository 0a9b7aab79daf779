// A private headless PipeWire daemon serving JACK programs, in place of the
// stories' jackd: what a PipeWire desktop offers, without a session manager or
// D-Bus (neither is needed for JACK MIDI between programs that connect their
// own ports). The daemon gets a runtime folder of its own; the simulator
// program and Yonderpad reach it through PipeWire's JACK library, set up the
// way pw-jack sets it up, and ask for period 256 as the jackd stories run.
"use strict";

const { spawn, spawnSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { Jack, waitFor, sleep } = require("./desktop.js");

// What pw-jack puts in front of a JACK program's library path, or null.
function pipeWireLibraryPath() {
  const shown = spawnSync("pw-jack", ["sh", "-c", 'printf %s "$LD_LIBRARY_PATH"'], { encoding: "utf8" });
  return shown.status === 0 && shown.stdout ? shown.stdout : null;
}

async function end(child) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return;
  child.kill("SIGTERM");
  if (!(await waitFor(() => child.exitCode !== null || child.signalCode !== null, 5000, 50))) child.kill("SIGKILL");
}

class PipeWire extends Jack {
  constructor(name) {
    super(name);
    this.runtime = fs.mkdtempSync(path.join(os.tmpdir(), `${name}-pipewire-`));
    this.libraryPath = pipeWireLibraryPath();
    this.env = Object.assign({}, process.env, this.clientEnv());
  }

  // A JACK server name that no jackd has: PipeWire's JACK library ignores it,
  // JACK's own would find no server, so the story cannot pass on a jackd.
  clientEnv() {
    return { PIPEWIRE_RUNTIME_DIR: this.runtime, PIPEWIRE_LATENCY: "256/48000", LD_LIBRARY_PATH: this.libraryPath || "",
             JACK_DEFAULT_SERVER: `${this.name}-no-jackd`, JACK_NO_START_SERVER: "1" };
  }

  // Throws with the reason when the daemon cannot serve JACK programs.
  async start() {
    if (!this.libraryPath) throw new Error("pw-jack is missing (package pipewire-jack, bash .ci/install)");
    const logFile = path.join(this.runtime, "pipewire.log");
    const log = fs.openSync(logFile, "w");
    const env = Object.assign({}, process.env, { XDG_RUNTIME_DIR: this.runtime });
    delete env.DBUS_SESSION_BUS_ADDRESS;
    try {
      this.server = spawn("pipewire", [], { env, stdio: ["ignore", log, log] });
    } finally {
      fs.closeSync(log);
    }
    this.server.on("error", () => {}); // a missing program shows as its exit below
    const serving = await waitFor(() => this.server.exitCode !== null || this.server.signalCode !== null ||
                                        spawnSync("jack_lsp", [], { env: this.env, stdio: "ignore" }).status === 0,
                                  10000, 100);
    if (!serving || this.server.exitCode !== null || this.server.signalCode !== null) {
      const tail = fs.existsSync(logFile) ? fs.readFileSync(logFile, "utf8").split("\n").slice(-8).join("\n") : "";
      throw new Error(`the PipeWire daemon did not start (is pipewire installed?); its log ends:\n${tail}`);
    }
    return true;
  }

  async stop() {
    await this.stopSimulator();
    await end(this.server);
    await sleep(50);
    fs.rmSync(this.runtime, { recursive: true, force: true });
  }
}

module.exports = { PipeWire };

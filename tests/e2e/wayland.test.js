// The story on simulated units on a Wayland desktop (headless Weston), with
// the placement rules Wayland allows: the stored size and maximised state
// come back, and the position stored by an X11 session is kept as it was.
"use strict";
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const test = require("node:test");
const { story } = require("./story.js");
const { WaylandDesktop } = require("./wayland.js");

const Placement = "[Mainframe]\nMainLeft=100\nMainTop=50\nMainRight=900\nMainBottom=650\nMainMaximized=0\n";
const entry = (text, name) => Number((text.match(new RegExp(`^${name}=(-?\\d+)$`, "m")) || [])[1]);

test("the demo on simulated units under Wayland", { timeout: 240000 }, (t) =>
  story(t, {
    dist: process.env.KORVO_DIST,
    jack: false,
    screenshot: false,
    Desktop: WaylandDesktop,
    seed(folder) {
      const dir = path.join(folder, "config", process.env.KORVO_COMPANY);
      fs.mkdirSync(dir, { recursive: true });
      fs.writeFileSync(path.join(dir, "Yonderpad.conf"), Placement);
    },
    placement(file, stored) {
      // Size kept (nothing resized the window), position untouched.
      assert.deepEqual(["MainLeft", "MainTop", "MainRight", "MainBottom", "MainMaximized"].map((n) => entry(stored, n)),
                       [100, 50, 900, 650, 0], stored);
      // The next start comes up maximised.
      fs.writeFileSync(file, stored.replace(/^MainMaximized=0$/m, "MainMaximized=1"));
    },
    async relaunched(desk) {
      const size = await desk.viewSize();
      assert.ok(size.width >= 1000, `not maximised: the page is ${JSON.stringify(size)} wide on a 1024x768 output`);
    },
  }));

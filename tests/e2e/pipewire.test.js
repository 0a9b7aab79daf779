// The JACK story on a private headless PipeWire daemon: the simulator program
// and Yonderpad as JACK programs through PipeWire's JACK library, as on a
// PipeWire desktop.
"use strict";
const test = require("node:test");
const { story } = require("./story.js");
const { PipeWire } = require("./pipewire.js");

test("the demo over PipeWire's JACK with the simulator program", { timeout: 300000 }, (t) =>
  story(t, { dist: process.env.KORVO_DIST, jack: true, screenshot: false, Server: PipeWire }));

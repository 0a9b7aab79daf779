// The story on units simulated inside the program (KORVO_MIDI=sim), no JACK.
"use strict";
const test = require("node:test");
const { story } = require("./story.js");

test("the demo on simulated units", { timeout: 240000 }, (t) =>
  story(t, { dist: process.env.KORVO_DIST, jack: false, screenshot: true }));

// The story on a private JACK server with the simulator program playing two
// units on their own ports.
"use strict";
const test = require("node:test");
const { story } = require("./story.js");

test("the demo over JACK with the simulator program", { timeout: 300000 }, (t) =>
  story(t, { dist: process.env.KORVO_DIST, jack: true, screenshot: true }));

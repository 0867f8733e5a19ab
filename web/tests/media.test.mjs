// The page's media helpers without a browser: PCM from the host's base64, the tone check the
// browser test relies on, the ring of received samples, the menu check of the fisheye choice,
// and where the pane's tool-bar buttons are pressed.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { pcm_from_base64, tone_frequency, rms, SampleRing } from "../portal/audio.js";
import { menu_offers, panel_bottom, toolbar_point, is_image_name, FISHEYE_VIEWS, FISHEYE_MOUNTS } from "../portal/controls.js";

function base64_of(samples) {
  const bytes = Buffer.alloc(samples.length * 2);
  samples.forEach((s, i) => bytes.writeInt16LE(s, 2 * i));
  return bytes.toString("base64");
}

describe("sound", () => {
  it("reads little-endian 16-bit PCM, negative samples included", () => {
    const samples = [0, 1, -1, 32767, -32768, 1234, -4321];
    assert.deepEqual(Array.from(pcm_from_base64(base64_of(samples))), samples);
    assert.equal(pcm_from_base64("").length, 0);
    // An odd byte at the end is no sample.
    assert.equal(pcm_from_base64(Buffer.from([1, 0, 2]).toString("base64")).length, 1);
  });

  it("finds the frequency of a tone and nothing in silence", () => {
    const rate = 8000;
    for (const f of [440, 1000, 1800]) {
      const tone = Array.from({ length: 4000 }, (_, i) => Math.round(8000 * Math.sin((2 * Math.PI * f * i) / rate)));
      assert.ok(Math.abs(tone_frequency(tone, rate) - f) < f * 0.01, `${f} Hz`);
      assert.ok(rms(tone) > 5000);
    }
    assert.equal(tone_frequency(new Array(4000).fill(0), rate), 0);
    assert.equal(rms([]), 0);
  });

  it("keeps the last samples received, oldest first", () => {
    const ring = new SampleRing(5);
    ring.push([1, 2, 3]);
    assert.deepEqual(Array.from(ring.last()), [1, 2, 3]);
    ring.push([4, 5, 6, 7]);
    assert.deepEqual(Array.from(ring.last()), [3, 4, 5, 6, 7]);
    assert.deepEqual(Array.from(ring.last(2)), [6, 7]);
    assert.equal(ring.total, 7);
    ring.clear();
    assert.equal(ring.last().length, 0);
  });
});

describe("fisheye choice through the pane menu", () => {
  const menu = [
    { text: "Fechar", command: 205 },
    { separator: true, command: 0 },
    { text: "Fisheye", command: 0, submenu: [
      { text: "Teto", command: 213 },
      { text: "Layout para parede", command: 0, submenu: [{ text: "Panorama", command: 224 }, { text: "X", command: 226, disabled: true }] },
    ] },
  ];
  it("answers only with a command the menu offers", () => {
    assert.equal(menu_offers(menu, 213), true);
    assert.equal(menu_offers(menu, 224), true);
    assert.equal(menu_offers(menu, 226), false, "disabled");
    assert.equal(menu_offers(menu, 0), false, "separators and submenu heads are no choice");
    assert.equal(menu_offers(menu, 999), false);
  });
  it("lists every mount and view of the pane menu once", () => {
    const commands = [...FISHEYE_MOUNTS, ...FISHEYE_VIEWS].map((x) => x.command);
    assert.deepEqual(commands, [213, 214, 215, 216, 217, 219, 220, 221, 222, 223, 224, 225, 226, 227]);
  });
});

describe("the pane's tool bar", () => {
  const grey = [220, 220, 220];
  it("finds the bottom of the panel above the pane's grey and frame", () => {
    const frame = [77, 202, 74]; // a selected pane's frame
    const column = [frame, ...Array(10).fill(grey), ...Array(80).fill([40, 90, 30]), ...Array(8).fill([221, 219, 222]), [120, 120, 120], frame, frame];
    assert.equal(panel_bottom(column), 90);
    // A picture that fills the pane ends just above the frame.
    assert.equal(panel_bottom([...Array(50).fill([10, 10, 10]), grey, frame]), 49);
    assert.equal(panel_bottom(Array(20).fill(grey)), -1);
  });
  it("presses the same button with six or seven buttons in the bar", () => {
    // Buttons share the inner width (w - 2) in equal slots: with an alarm output first when
    // there is one.
    const slot = (w, n, x) => Math.floor((x - 1) / Math.floor((w - 2) / n));
    for (const w of [320, 480, 640, 956, 1276]) {
      const cell = { x: 0, y: 0, w, h: 300 };
      const snap = toolbar_point(cell, 280, "snapshot");
      assert.equal(slot(w, 6, snap.x), 0, `snapshot of 6 at ${w}`);
      assert.equal(slot(w, 7, snap.x), 1, `snapshot of 7 at ${w}`);
      const rec = toolbar_point(cell, 280, "record");
      assert.equal(slot(w, 6, rec.x), 1, `record of 6 at ${w}`);
      assert.equal(slot(w, 7, rec.x), 2, `record of 7 at ${w}`);
      assert.ok(snap.y > 280 - 32 && snap.y < 280);
    }
    assert.equal(toolbar_point({ x: 0, y: 0, w: 100, h: 100 }, 90, "close"), null);
  });
  it("knows the snapshot files by their extension", () => {
    for (const n of ["a.png", "B.JPG", "c.jpeg", "d.bmp"]) assert.ok(is_image_name(n), n);
    for (const n of ["Video.mp4", "x.dav", "png", ""]) assert.ok(!is_image_name(n), n);
  });
});

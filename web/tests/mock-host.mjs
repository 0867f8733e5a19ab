// A stand-in for kavrel-host that speaks the page bridge protocol (host/PROTOCOL.md) with a
// scripted control: the demo account's lists and device events, the About box through the
// host site, a popup menu on right click, a drawn 2x2 wall as JPEG frames, and recordings to
// search, play and export (mock-recordings.mjs). It lets the page
// be worked on and tested without the C++ build.
//
//   node web/tests/mock-host.mjs [--port N] [--slow]
//
// Prints "kavrel-host: open http://127.0.0.1:<port>/?token=<token>" like the real host.

import http from "node:http";
import { readFileSync, existsSync, statSync } from "node:fs";
import { randomBytes } from "node:crypto";
import { join, normalize, extname, dirname } from "node:path";
import { fileURLToPath } from "node:url";
import { WebSocketServer } from "ws";
import jpeg from "jpeg-js";
import { read_typelib, make_kavrel_js } from "./typelib.mjs";
import { make_recordings } from "./mock-recordings.mjs";

const here = dirname(fileURLToPath(import.meta.url));
const web_root = join(here, "..");
const repo = join(web_root, "..");

const EV = {
  P2P: 256, DESCRIPTION: 0x10000018, CAM_LIST: 0x1000001d, DEV_LIST: 0x10000020, SERIALS: 0x10000022,
  HTTP_URL: 0x20001000, ADD_DEV: 0x20001001, LIVE: 0x30000,
};

const TYPES = { ".html": "text/html; charset=utf-8", ".js": "text/javascript; charset=utf-8", ".mjs": "text/javascript; charset=utf-8", ".css": "text/css; charset=utf-8", ".json": "application/json", ".png": "image/png", ".svg": "image/svg+xml" };

// A tenth of a second of a 880 Hz tone as a WAVE file.
function beep() {
  const rate = 8000;
  const samples = rate / 10;
  const wav = Buffer.alloc(44 + samples * 2);
  wav.write("RIFF", 0, "latin1");
  wav.writeUInt32LE(36 + samples * 2, 4);
  wav.write("WAVEfmt ", 8, "latin1");
  wav.writeUInt32LE(16, 16);
  wav.writeUInt16LE(1, 20);
  wav.writeUInt16LE(1, 22);
  wav.writeUInt32LE(rate, 24);
  wav.writeUInt32LE(rate * 2, 28);
  wav.writeUInt16LE(2, 32);
  wav.writeUInt16LE(16, 34);
  wav.write("data", 36, "latin1");
  wav.writeUInt32LE(samples * 2, 40);
  for (let i = 0; i < samples; i += 1) wav.writeInt16LE(Math.round(8000 * Math.sin((2 * Math.PI * 880 * i) / rate)), 44 + i * 2);
  return wav;
}

export function start_mock_host({ port = 0, delay_scale = 1 } = {}) {
  const token = randomBytes(12).toString("hex");
  let session = randomBytes(16).toString("hex");
  const inputs = []; // every input message, for tests
  const calls = []; // every script call: {method, args}
  const acks = [];
  const offered = new Map(); // download path -> file name
  const typelib = read_typelib(join(repo, "kavrel/resources/type_library.cpp"));
  const kavrel_js = make_kavrel_js(typelib);
  const fixture = JSON.parse(readFileSync(join(repo, "sim/fixture/demo.json"), "utf8"));
  const account = fixture.accounts[0];
  const app = fixture.applications[0];

  const control = {
    initialised: false,
    signed_in: false,
    user: "",
    added: new Set(),
    surface: { width: 640, height: 360 },
    selected: 0,
    pics: 4,
    site_id: 1,
    pending_site: new Map(), // id -> {message, done(value)}
    listening: new Set(),
    layouts: new Set(),
  };
  let page = null; // the one socket that has the control
  const timers = new Set();
  const later = (ms, fn) => {
    const timer = setTimeout(() => {
      timers.delete(timer);
      fn();
    }, ms * delay_scale);
    timers.add(timer);
  };

  const send = (msg) => page && page.readyState === 1 && page.send(JSON.stringify(msg));
  const fire = (nID, tag1, tag2, info = "") =>
    send({ type: "event", name: "CliCallBackMsg", args: [0, 0, nID, tag1, tag2, info, Buffer.byteLength(info)] });

  const device_list = () =>
    JSON.stringify(
      {
        devs: account.devices.map((d) => ({
          name: d.name, vendor: d.vendor, model: d.model, status_sp: 0, dev_port: d.dev_port, dev_http_port: d.dev_http_port,
          channels: Array.from({ length: d.channel_count }, (_, i) => `${d.dev_id}_${String(i).padStart(3, "0")}`),
          dev_id: d.dev_id, dev_user: d.dev_user, dev_pass: d.dev_pass,
        })),
      },
      null,
      "\t",
    );
  const camera_list = () => JSON.stringify(account.cameras, null, "\t");

  const report_tunnels = () => {
    for (const d of account.devices) {
      if (d.online) fire(EV.P2P, 1, 1, d.dev_id);
      else fire(EV.HTTP_URL, 0, -4, d.dev_id);
    }
  };

  const site = (message) =>
    new Promise((resolve) => {
      const id = control.site_id++;
      const full = { type: "site", id, ...message };
      control.pending_site.set(id, { message: full, done: resolve });
      send(full);
    });

  // Recordings, playback and export (mock-recordings.mjs); files it saves are offered like the
  // control's downloads.
  let download_id = 0;
  const saved = new Map(); // download path -> bytes
  const recordings = make_recordings({
    account,
    fire,
    site: (message) => site(message),
    later,
    redraw: () => draw_all(),
    offer: (name, bytes) => {
      const url = `/download/rec-${++download_id}`;
      offered.set(url, name);
      saved.set(url, bytes);
      send({ type: "site", kind: "download", url, name });
    },
  });

  const methods = {
    ...recordings.methods,
    CliInit: () => {
      control.initialised = true;
      return null;
    },
    CliUnInit: () => {
      control.initialised = false;
      control.signed_in = false;
      control.user = "";
      control.added.clear();
      return null;
    },
    CliCloudInitSimple: (user, pass) => {
      if (!control.initialised) return null;
      control.signed_in = true;
      control.user = user;
      const good = user === account.user && pass === account.password;
      later(150, () => {
        if (!good) {
          fire(EV.SERIALS, 401, 0);
          fire(EV.DEV_LIST, 401, 0);
          fire(EV.CAM_LIST, 401, 0);
          return;
        }
        fire(EV.DEV_LIST, 0, 0, device_list());
        fire(EV.SERIALS, 0, 0, '{"devs_sn":1,"cams_sn":1}');
        fire(EV.CAM_LIST, 0, 0, camera_list());
        fire(EV.DEV_LIST, 0, 0, device_list());
        fire(EV.CAM_LIST, 0, 0, camera_list());
      });
      later(700, () => {
        if (good) report_tunnels();
      });
      return null;
    },
    CliCloudGetDeviceListSp: () => {
      later(60, () => {
        fire(EV.DEV_LIST, 0, 0, device_list());
        fire(EV.DEV_LIST, 0, 0, device_list());
        for (const d of account.devices) fire(EV.P2P, d.online ? 1 : -4, 1, d.dev_id);
      });
      return null;
    },
    CliCloudGetCamListSp: () => {
      later(80, () => {
        fire(EV.CAM_LIST, 0, 0, camera_list());
        fire(EV.CAM_LIST, 0, 0, camera_list());
      });
      return null;
    },
    CliAddDeviceP2P: (id) => {
      const d = account.devices.find((x) => x.dev_id === id);
      control.added.add(id);
      later(d?.online ? 900 : 1500, () => {
        if (!d || !d.online) {
          fire(EV.ADD_DEV, 0, -3, id);
          return;
        }
        const camlist = Array.from({ length: d.channel_count }, (_, i) => `{"cam_id":"${id}_${String(i).padStart(3, "0")}","chlid":${i},"name":"${id}_${String(i).padStart(3, "0")}"}`);
        fire(EV.DESCRIPTION, 0, 0, `{"dev_id":"${id}","chls":${d.channel_count},"camlist":[${camlist.join(",")}]}`);
        fire(EV.DESCRIPTION, 0, 0, "");
        fire(EV.ADD_DEV, 0, 1, id);
      });
      return null;
    },
    AboutBox: async () => {
      await site({ kind: "dialog", caption: "Sobre o kavrel Control", lines: ["kavrel Control", "Versão 1.2.1329.0"], buttons: [{ id: 1, text: "OK" }] });
      return null;
    },
    CliGetBuild: () => 1329,
    CliGetPicNum: () => control.pics,
    CliSetPicNum: (n) => {
      control.pics = [1, 4, 9, 16].includes(n) ? n : control.pics;
      draw_all();
      return control.pics;
    },
    CliGetCurrPicIndex: () => control.selected,
    CliStartPlayDev: (cam, stream, pane) => {
      later(400, () => fire(EV.LIVE, pane, 0, cam));
      return 0;
    },
    CliFullScreen: (on) => {
      send({ type: "site", kind: "fullscreen", on: Boolean(on) });
      return null;
    },
    // Alarms: a listened camera's device raises motion on its channel now and then.
    CliStartListenAlertDev: (cam) => {
      const find = (g) => g.cams?.find((c) => c.id === cam) ?? g.groups?.map(find).find(Boolean);
      const known = find(account.cameras);
      const [devid, channel] = known ? [known.devid, known.chlid] : [cam.replace(/_\d+$/, ""), Number(cam.slice(-3))];
      control.listening.add(cam);
      const ring = () => {
        if (!control.listening.has(cam)) return;
        fire(0x20001003, control.listening.size % 3 === 0 ? 0 : 1, channel, devid);
        later(2500 + 1000 * control.listening.size, ring);
      };
      later(600, ring);
      return null;
    },
    CliStopListenAlertDev: (cam) => {
      control.listening.delete(cam);
      return null;
    },
    CliDeviceSearch: () => {
      const devices = account.devices
        .filter((d) => d.online !== false)
        .map((d) => ({ id: `SN-${d.dev_id}`, ip: "127.0.0.1", name: d.name, port: d.dev_port, http_port: d.dev_http_port, model: d.model ?? "NVR-4" }));
      devices.push({ id: "SN-LAB-7781", ip: "127.0.0.1", name: "Laboratório", port: 37777, http_port: 80, model: "IPC-B2" });
      later(1100, () => fire(0x10000017, 0, 0, JSON.stringify({ devices })));
      return null;
    },
    CliSaveLayout: (name) => {
      control.layouts.add(String(name).replace(/[<>:"/\\|?*]/g, "_"));
      return null;
    },
    CliLoadLayout: (name) => control.layouts.has(name),
    CliEnumLayouts: () => JSON.stringify({ Layouts: [...control.layouts] }),
    CliDeleteLayout: (name) => {
      control.layouts.delete(name);
      return null;
    },
  };

  // ---- the drawn wall ----

  let seq = 0;
  let unacked = 0;
  function picture(width, height) {
    const data = Buffer.alloc(width * height * 4);
    if (recordings.on_page()) {
      recordings.paint(data, width, height);
      return jpeg.encode({ data, width, height }, 90).data;
    }
    const n = Math.round(Math.sqrt(control.pics));
    const put = (x, y, r, g, b) => {
      const i = (y * width + x) * 4;
      data[i] = r;
      data[i + 1] = g;
      data[i + 2] = b;
      data[i + 3] = 255;
    };
    for (let y = 0; y < height; y += 1) {
      for (let x = 0; x < width; x += 1) {
        const col = Math.min(n - 1, Math.floor((x * n) / width));
        const row = Math.min(n - 1, Math.floor((y * n) / height));
        const x0 = Math.floor((col * width) / n);
        const y0 = Math.floor((row * height) / n);
        const x1 = Math.floor(((col + 1) * width) / n) - 1;
        const y1 = Math.floor(((row + 1) * height) / n) - 1;
        const border = x === x0 || x === x1 || y === y0 || y === y1;
        const selected = row * n + col === control.selected;
        if (border) put(x, y, selected ? 230 : 58, selected ? 160 : 58, selected ? 40 : 58);
        else put(x, y, 22 + ((x + y) % 7 === 0 ? 4 : 0), 24, 28);
      }
    }
    return jpeg.encode({ data, width, height }, 80).data;
  }
  function frame() {
    if (!page || unacked >= 2) return;
    const { width, height } = control.surface;
    const body = picture(width, height);
    const header = Buffer.alloc(24);
    header.write("KVF1", 0, "latin1");
    seq += 1;
    header.writeUInt32LE(seq, 4);
    header.writeUInt16LE(width, 8);
    header.writeUInt16LE(height, 10);
    header.writeUInt16LE(0, 12);
    header.writeUInt16LE(0, 14);
    header.writeUInt16LE(width, 16);
    header.writeUInt16LE(height, 18);
    header.writeUInt32LE(1, 20);
    unacked += 1;
    page.send(Buffer.concat([header, Buffer.from(body)]));
  }
  function draw_all() {
    frame();
  }

  async function on_input(msg) {
    const { width, height } = control.surface;
    const n = Math.round(Math.sqrt(control.pics));
    if (msg.event === "mousedown" || msg.event === "dblclick") {
      const col = Math.min(n - 1, Math.max(0, Math.floor((msg.x * n) / width)));
      const row = Math.min(n - 1, Math.max(0, Math.floor((msg.y * n) / height)));
      control.selected = row * n + col;
      draw_all();
    }
    if (msg.event === "mousedown" && msg.button === 2) {
      const command = await site({
        kind: "menu", x: msg.x, y: msg.y,
        items: [
          { text: "&Fechar vídeo", command: 101 },
          { text: "Fechar todos", command: 102 },
          { separator: true },
          { text: "Layout", submenu: [1, 4, 9, 16].map((p) => ({ text: `${p} painéis`, command: 200 + p, checked: p === control.pics })) },
          { text: "Tela &cheia\tDuplo clique", command: 103 },
          { text: "Gravar", command: 104, disabled: true },
          { separator: true },
          { text: "Sobre…", command: 105 },
        ],
      });
      if (command > 200) methods.CliSetPicNum(command - 200);
      if (command === 103) methods.CliFullScreen(1);
      if (command === 105) await methods.AboutBox();
      if (command === 101) {
        const answer = await site({ kind: "message_box", text: "Fechar o vídeo deste painel?", caption: "Quenlar Cloud", buttons: "okcancel" });
        if (answer === 1) fire(0x12100, control.selected, 0);
      }
    }
  }

  // ---- HTTP ----

  const cookie_ok = (req) => (req.headers.cookie ?? "").split(/;\s*/).includes(`kavrel_session=${session}`);
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, "http://x");
    if (url.pathname === "/" && url.searchParams.has("token")) {
      if (url.searchParams.get("token") !== token) {
        res.writeHead(403).end();
        return;
      }
      res.writeHead(303, { Location: "/", "Set-Cookie": `kavrel_session=${session}; Path=/; HttpOnly; SameSite=Strict` }).end();
      return;
    }
    if (!req.headers.cookie) {
      res.writeHead(401).end();
      return;
    }
    if (!cookie_ok(req)) {
      res.writeHead(403).end();
      return;
    }
    if (url.pathname.startsWith("/download/")) {
      const name = offered.get(url.pathname) ?? "download";
      if (saved.has(url.pathname)) {
        const bytes = saved.get(url.pathname);
        res.writeHead(200, { "Content-Type": "application/octet-stream", "Content-Length": bytes.length, "Content-Disposition": `attachment; filename="${name}"` }).end(bytes);
        return;
      }
      if (name.endsWith(".wav")) {
        res.writeHead(200, { "Content-Type": "audio/wav" }).end(beep());
        return;
      }
      res.writeHead(200, { "Content-Type": "application/octet-stream", "Content-Disposition": `attachment; filename="${name}"` }).end("picture");
      return;
    }
    if (url.pathname === "/kavrel.js") {
      res.writeHead(200, { "Content-Type": TYPES[".js"], "Cache-Control": "no-store" }).end(kavrel_js);
      return;
    }
    if (url.pathname === "/typelib.json") {
      res.writeHead(200, { "Content-Type": TYPES[".json"] }).end(req.method === "HEAD" ? undefined : JSON.stringify(typelib));
      return;
    }
    const path = url.pathname === "/" ? "/index.html" : decodeURIComponent(url.pathname);
    const file = normalize(join(web_root, path));
    if (!file.startsWith(web_root) || path.split("/").some((p) => p.startsWith(".")) || file.includes("node_modules") || !existsSync(file) || !statSync(file).isFile()) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { "Content-Type": TYPES[extname(file)] ?? "application/octet-stream", "Cache-Control": "no-store" }).end(readFileSync(file));
  });

  const wss = new WebSocketServer({ noServer: true, maxPayload: 1 << 20 });
  server.on("upgrade", (req, socket, head) => {
    const address = server.address();
    const host_ok = req.headers.host === `127.0.0.1:${address.port}` || req.headers.host === `localhost:${address.port}`;
    if (new URL(req.url, "http://x").pathname !== "/bridge" || !cookie_ok(req) || !host_ok || req.headers.origin !== `http://${req.headers.host}`) {
      socket.end("HTTP/1.1 403 Forbidden\r\n\r\n");
      return;
    }
    wss.handleUpgrade(req, socket, head, (ws) => on_socket(ws));
  });

  function on_socket(ws) {
    if (page) {
      const old = page;
      old.send(JSON.stringify({ type: "taken-over" }));
      old.close();
    }
    page = ws;
    unacked = 0;
    send({
      type: "hello", version: 1, build: 1329, surface: control.surface,
      state: { initialised: control.initialised, signed_in: control.signed_in, user: control.user },
      demo: {
        server: "http://127.0.0.1:18080", app_key: "mock-encrypted-" + app.app_key, app_pass: "mock-encrypted-" + app.app_pass,
        tunnel_host: "127.0.0.1", tunnel_port: 18090, tunnel_key: "", user: account.user, password: account.password,
      },
    });
    // Unanswered site requests are asked again of the new page.
    for (const { message } of control.pending_site.values()) send(message);
    ws.on("message", async (data, binary) => {
      if (ws !== page) return;
      if (binary) return;
      let msg;
      try {
        msg = JSON.parse(String(data));
      } catch {
        send({ type: "error", error: "not JSON" });
        return;
      }
      switch (msg.type) {
        case "call": {
          calls.push({ method: msg.method, args: msg.args ?? [] });
          const fn = methods[msg.method];
          const known = typelib.dispinterface.methods.some((m) => m.name === msg.method);
          if (!known) {
            send({ type: "result", id: msg.id, ok: false, error: `unknown method "${msg.method}"` });
            return;
          }
          const value = fn ? await fn(...(msg.args ?? [])) : null;
          if (ws === page) send({ type: "result", id: msg.id, ok: true, value: value ?? null });
          break;
        }
        case "resize": {
          const width = Math.max(1, Math.round(msg.width * msg.dpr));
          const height = Math.max(1, Math.round(msg.height * msg.dpr));
          if (width !== control.surface.width || height !== control.surface.height) {
            control.surface = { width, height };
            draw_all();
          }
          break;
        }
        case "full-frame":
          unacked = 0;
          draw_all();
          break;
        case "frame-ack":
          acks.push(msg.seq);
          unacked = Math.max(0, unacked - 1);
          break;
        case "site-reply": {
          const pending = control.pending_site.get(msg.id);
          if (pending) {
            control.pending_site.delete(msg.id);
            pending.done(msg.value);
          }
          break;
        }
        case "input":
          inputs.push(msg);
          on_input(msg);
          break;
        default:
          send({ type: "error", error: `unknown type "${msg.type}"` });
      }
    });
    ws.on("close", () => {
      if (ws === page) page = null;
    });
  }

  return new Promise((resolve) => {
    server.listen(port, "127.0.0.1", () => {
      const address = server.address();
      const url = `http://127.0.0.1:${address.port}/?token=${token}`;
      resolve({
        url,
        port: address.port,
        control,
        drop_page: () => page?.terminate(),
        inputs,
        acks,
        calls,
        recordings: recordings.state,
        // Asks the page as the control's host site would; resolves with the page's answer.
        site_request: (message) => site(message),
        cancel_site: (id) => {
          control.pending_site.delete(id);
          send({ type: "site-cancel", id });
        },
        notify: (message) => {
          if (message.kind === "download" || message.kind === "sound") offered.set(message.url, message.name);
          send({ type: "site", ...message });
        },
        fire,
        // A restarted host: the page's cookie no longer opens anything.
        forget_sessions: () => {
          session = randomBytes(16).toString("hex");
          page?.terminate();
        },
        close: () =>
          new Promise((done) => {
            for (const t of timers) clearTimeout(t);
            for (const c of wss.clients) c.terminate();
            server.close(() => done());
            server.closeAllConnections?.();
          }),
      });
    });
  });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const args = process.argv.slice(2);
  const port = args.includes("--port") ? Number(args[args.indexOf("--port") + 1]) : 0;
  const host = await start_mock_host({ port, delay_scale: args.includes("--slow") ? 3 : 1 });
  console.log(`kavrel-host: open ${host.url}`);
}

// The page's one WebSocket to kavrel-host (/bridge): script calls with their results, control
// events, host-site requests and surface frames. When the socket drops it reconnects by itself
// with growing pauses; when another page takes the control over it stays closed until asked.
//
// Events fired (all CustomEvent, payload in `detail`):
//   "state"  {state, attempt, retry_at}  state: connecting | open | waiting | taken-over | unauthorized
//   "hello"  the hello message           after every (re)connection
//   "event"  {name, args}                a control event (what kavrel.js listens to)
//   "site"   the site message            a host-site request or notification
//   "site-cancel" {id}                   the host stopped waiting for that site request
//   "frame"  ArrayBuffer                 one binary surface rectangle
//   "error"  the error message           the host did not understand a message
//   "call"   {id, method, args}           a script call sent
//   "result" {id, method, ok, value|error} its outcome (also a lost connection)

const BACKOFF_FIRST_MS = 500;
const BACKOFF_MAX_MS = 8000;
// After this many failed tries in a row, ask over HTTP whether the page may still come in.
const PROBE_AFTER_TRIES = 3;

export class CallError extends Error {
  constructor(method, message, disconnected = false) {
    super(message);
    this.method = method;
    this.disconnected = disconnected;
  }
}

export function bridge_url(location) {
  const scheme = location.protocol === "https:" ? "wss:" : "ws:";
  return `${scheme}//${location.host}/bridge`;
}

export class Bridge extends EventTarget {
  constructor(url, { first_delay = BACKOFF_FIRST_MS, max_delay = BACKOFF_MAX_MS, probe = probe_access } = {}) {
    super();
    this.url = url;
    this.first_delay = first_delay;
    this.max_delay = max_delay;
    this.probe = probe;
    this.socket = null;
    this.state = "connecting";
    this.failures = 0; // connection attempts in a row that ended without a hello
    this.next_id = 1;
    this.pending = new Map(); // call id -> {resolve, reject, method}
    this.retry_timer = 0;
    this.retry_at = 0;
    this.hello = null;
  }

  start() {
    this.connect();
  }

  set_state(state) {
    this.state = state;
    this.dispatchEvent(new CustomEvent("state", { detail: { state, attempt: this.failures, retry_at: this.retry_at } }));
  }

  connect() {
    clearTimeout(this.retry_timer);
    this.retry_timer = 0;
    this.retry_at = 0;
    this.set_state("connecting");
    let socket;
    try {
      socket = new WebSocket(this.url);
    } catch {
      this.schedule_retry();
      return;
    }
    socket.binaryType = "arraybuffer";
    this.socket = socket;
    socket.onmessage = (m) => this.on_message(socket, m);
    socket.onclose = () => this.on_close(socket);
    socket.onerror = () => {}; // a close always follows
  }

  on_message(socket, m) {
    if (socket !== this.socket) return;
    if (typeof m.data !== "string") {
      this.dispatchEvent(new CustomEvent("frame", { detail: m.data }));
      return;
    }
    let msg;
    try {
      msg = JSON.parse(m.data);
    } catch {
      return;
    }
    switch (msg.type) {
      case "hello":
        this.failures = 0;
        this.hello = msg;
        this.set_state("open");
        this.dispatchEvent(new CustomEvent("hello", { detail: msg }));
        break;
      case "result": {
        const call = this.pending.get(msg.id);
        if (!call) break;
        this.pending.delete(msg.id);
        this.dispatchEvent(new CustomEvent("result", { detail: { id: msg.id, method: call.method, ok: Boolean(msg.ok), value: msg.value ?? null, error: msg.error } }));
        if (msg.ok) call.resolve(msg.value ?? null);
        else call.reject(new CallError(call.method, msg.error || "refused"));
        break;
      }
      case "event":
        this.dispatchEvent(new CustomEvent("event", { detail: { name: msg.name, args: msg.args ?? [] } }));
        break;
      case "site":
        this.dispatchEvent(new CustomEvent("site", { detail: msg }));
        break;
      case "site-cancel":
        this.dispatchEvent(new CustomEvent("site-cancel", { detail: msg }));
        break;
      case "taken-over":
        this.taken_over = true;
        break;
      case "error":
        this.dispatchEvent(new CustomEvent("error", { detail: msg }));
        break;
      default:
        break;
    }
  }

  on_close(socket) {
    if (socket !== this.socket) return;
    this.socket = null;
    this.fail_pending();
    if (this.taken_over) {
      this.taken_over = false;
      this.set_state("taken-over");
      return;
    }
    if (this.state === "open") this.failures = 0;
    this.failures += 1;
    if (this.failures >= PROBE_AFTER_TRIES && this.probe) {
      this.probe().then((allowed) => {
        if (this.socket || this.state === "taken-over") return;
        if (allowed === false) this.set_state("unauthorized");
        else this.schedule_retry();
      });
      return;
    }
    this.schedule_retry();
  }

  fail_pending() {
    const calls = [...this.pending.values()];
    this.pending.clear();
    for (const call of calls) {
      this.dispatchEvent(new CustomEvent("result", { detail: { method: call.method, ok: false, error: "connection lost" } }));
      call.reject(new CallError(call.method, "connection lost", true));
    }
  }

  // The pause before the next try grows from first_delay to max_delay, with some jitter so
  // pages of several users do not knock in step.
  delay() {
    const base = Math.min(this.max_delay, this.first_delay * 2 ** Math.max(0, this.failures - 1));
    return Math.round(base * (0.8 + Math.random() * 0.4));
  }

  schedule_retry() {
    const wait = this.delay();
    this.retry_at = Date.now() + wait;
    this.retry_timer = setTimeout(() => this.connect(), wait);
    this.set_state("waiting");
  }

  // Retry at once (the user pressed "retry now"), or take the control back after a take-over.
  reconnect_now() {
    if (this.socket) return;
    this.connect();
  }

  send(message) {
    if (!this.socket || this.socket.readyState !== WebSocket.OPEN || this.state !== "open") return false;
    this.socket.send(JSON.stringify(message));
    return true;
  }

  // Calls a script method by name; resolves with its result, rejects with a CallError.
  call(method, args = []) {
    const id = this.next_id++;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, method });
      this.dispatchEvent(new CustomEvent("call", { detail: { id, method, args } }));
      if (!this.send({ type: "call", id, method, args })) {
        this.pending.delete(id);
        this.dispatchEvent(new CustomEvent("result", { detail: { id, method, ok: false, error: "not connected" } }));
        reject(new CallError(method, "not connected", true));
      }
    });
  }

  // What kavrel.js listens through: fn(name, args) for every control event, in order.
  onEvent(fn) {
    this.addEventListener("event", (e) => fn(e.detail.name, e.detail.args));
  }

  // Closes the socket as if the network had dropped it (tests and the developer log use it).
  drop() {
    if (this.socket) this.socket.close();
  }
}

// Whether the page may still reach the host over HTTP: false on 401/403 (the session cookie is
// gone, e.g. the host was restarted with a new token), true otherwise, null when unreachable.
export async function probe_access() {
  try {
    const reply = await fetch("/typelib.json", { cache: "no-store" });
    return !(reply.status === 401 || reply.status === 403);
  } catch {
    return null;
  }
}

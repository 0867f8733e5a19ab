// Live sound of the panes: the host sends a stream's 16-bit mono PCM in base64 pieces, the page
// plays them back to back through Web Audio, and keeps the last second it received so the page
// (and its tests) can see what is playing. The library plays one stream's sound at a time and
// has applied the volume already; the page only schedules.

// Samples of little-endian 16-bit PCM given in base64, as an Int16Array.
export function pcm_from_base64(text) {
  const binary = typeof atob === "function" ? atob(text ?? "") : Buffer.from(text ?? "", "base64").toString("binary");
  const count = binary.length >> 1;
  const out = new Int16Array(count);
  for (let i = 0; i < count; i++) {
    const v = binary.charCodeAt(2 * i) | (binary.charCodeAt(2 * i + 1) << 8);
    out[i] = v >= 0x8000 ? v - 0x10000 : v;
  }
  return out;
}

// The frequency of a tone in `samples` (rate per second) from its rising zero crossings; 0 for
// silence or too little signal.
export function tone_frequency(samples, rate) {
  if (!samples?.length || !rate) return 0;
  let crossings = 0;
  let first = -1;
  let last = -1;
  for (let i = 1; i < samples.length; i++) {
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      crossings++;
      if (first < 0) first = i;
      last = i;
    }
  }
  if (crossings < 2) return 0;
  return ((crossings - 1) * rate) / (last - first);
}

// The loudness of `samples` as the root mean square, 0 to 32767.
export function rms(samples) {
  if (!samples?.length) return 0;
  let sum = 0;
  for (const s of samples) sum += s * s;
  return Math.sqrt(sum / samples.length);
}

// A ring of the last `capacity` samples received.
export class SampleRing {
  constructor(capacity) {
    this.data = new Int16Array(capacity);
    this.size = 0;
    this.next = 0;
    this.total = 0;
  }
  push(samples) {
    for (const s of samples) {
      this.data[this.next] = s;
      this.next = (this.next + 1) % this.data.length;
    }
    this.size = Math.min(this.data.length, this.size + samples.length);
    this.total += samples.length;
  }
  // The last `n` samples (all held when n is larger), oldest first.
  last(n = this.size) {
    const count = Math.min(n, this.size);
    const out = new Int16Array(count);
    const start = (this.next - count + this.data.length) % this.data.length;
    for (let i = 0; i < count; i++) out[i] = this.data[(start + i) % this.data.length];
    return out;
  }
  clear() {
    this.size = 0;
    this.next = 0;
  }
}

export class PanePlayer extends EventTarget {
  // context(): the page's AudioContext (created on first use), or null without Web Audio.
  constructor(context) {
    super();
    this.context = context;
    this.ring = new SampleRing(16000);
    this.rate = 8000;
    this.stream = null;
    this.play_at = 0;
    this.chunks = 0;
  }

  on_audio(message) {
    const samples = pcm_from_base64(message.pcm);
    if (!samples.length) return;
    if (this.stream !== message.stream) {
      this.stream = message.stream;
      this.ring.clear();
      this.play_at = 0;
    }
    this.rate = Number(message.rate) || 8000;
    this.ring.push(samples);
    this.chunks++;
    this.schedule(samples);
    this.dispatchEvent(new CustomEvent("audio", { detail: { stream: this.stream, count: samples.length } }));
  }

  on_end(message) {
    if (message.stream !== this.stream) return;
    this.stream = null;
    this.play_at = 0;
    this.dispatchEvent(new CustomEvent("audio-end", { detail: { stream: message.stream } }));
  }

  schedule(samples) {
    const context = this.context();
    if (!context) return;
    const buffer = context.createBuffer(1, samples.length, this.rate);
    const channel = buffer.getChannelData(0);
    for (let i = 0; i < samples.length; i++) channel[i] = samples[i] / 32768;
    const source = context.createBufferSource();
    source.buffer = buffer;
    source.connect(context.destination);
    // Pieces play back to back; a late piece starts a little ahead so jitter does not click.
    const now = context.currentTime;
    if (this.play_at < now + 0.02) this.play_at = now + 0.08;
    source.start(this.play_at);
    this.play_at += buffer.duration;
  }

  // What the page heard last: samples, their rate, and the tone found in them.
  recent(n = 4000) {
    const samples = this.ring.last(n);
    return { samples: Array.from(samples), rate: this.rate, frequency: tone_frequency(samples, this.rate), rms: rms(samples), total: this.ring.total };
  }
}

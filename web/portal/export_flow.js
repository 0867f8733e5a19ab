// The steps of a video export as the page sees them. The control starts the download and shows
// its progress in the playback pane itself; the page learns the start from CliStartBackup's
// result and event 0x30003, the end from the control's save dialog, and the saved file from the
// download the host offers. Nothing else tells the page how far the export is.
//
//   idle → starting → exporting → choosing (save dialog) → saving → saved
//   any step before saved → failed (with the reason) or cancelled

export const DEFAULT_LENGTH = 60;
export const MAX_LENGTH = 3600;

// The text key for a negative result of CliStartBackup.
export function backup_error_key(code) {
  return {
    [-1]: "exp.err.camera",
    [-2]: "exp.err.internal",
    [-3]: "exp.err.refused",
    [-4]: "exp.err.login",
    [-5]: "exp.err.unknown-device",
    [-6]: "exp.err.unknown-camera",
  }[code] ?? "exp.err.code";
}

// The export length from what the person typed: whole seconds 1 to 3600, 60 when empty; null
// when it is not a number in that range.
export function export_length(text) {
  const s = String(text ?? "").trim();
  if (s === "") return DEFAULT_LENGTH;
  if (!/^\d+$/.test(s)) return null;
  const n = Number(s);
  return n >= 1 && n <= MAX_LENGTH ? n : null;
}

export class ExportFlow {
  constructor() {
    this.reset();
  }

  reset() {
    this.state = "idle";
    this.error = null; // {key, code}
    this.name = "";
    this.camera = "";
  }

  get busy() {
    return ["starting", "exporting", "choosing", "saving"].includes(this.state);
  }

  begin(camera) {
    this.reset();
    this.camera = camera;
    this.state = "starting";
  }

  // The result of CliStartBackup (null when the call itself failed).
  started(result) {
    if (this.state !== "starting") return;
    if (result === 0) this.state = "exporting";
    else this.fail(result === null ? "exp.err.call" : backup_error_key(result), result ?? 0);
  }

  // Event 0x30003 (tag2 0 started, -1 refused by the library) or 0x12101 (login failed) for
  // `camera`.
  event(kind, code, camera) {
    if (!this.busy || (camera && camera !== this.camera)) return;
    if (kind === "export" && code !== 0 && this.state !== "choosing" && this.state !== "saving") this.fail("exp.err.refused", code);
    if (kind === "login" && this.state === "starting") this.fail("exp.err.login", code);
  }

  // The control's save dialog opened: the download is complete.
  dialog_opened() {
    if (this.state === "exporting" || this.state === "starting") this.state = "choosing";
  }

  // The person answered it.
  dialog_answered(answer) {
    if (this.state !== "choosing") return;
    if (answer && answer.chosen) {
      this.state = "saving";
      this.name = String(answer.name ?? "");
    } else {
      this.state = "cancelled";
    }
  }

  // The host offered the saved file.
  downloaded(name) {
    if (this.state !== "saving" && this.state !== "choosing") return;
    this.state = "saved";
    this.name = name || this.name;
  }

  cancel() {
    if (this.busy) this.state = "cancelled";
  }

  fail(key, code = 0) {
    this.state = "failed";
    this.error = { key, code };
  }
}

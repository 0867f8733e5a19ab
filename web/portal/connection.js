// Shows the state of the page's link to the control: the indicator in the top bar, the
// reconnecting banner with its countdown, and the overlays for a control taken over by another
// page and for a page that lost its access.

import { t } from "./i18n.js";

export class ConnectionView {
  constructor(bridge, { indicator, banner, taken_over, unauthorized, log }) {
    this.bridge = bridge;
    this.indicator = indicator;
    this.banner = banner;
    this.taken_over = taken_over;
    this.unauthorized = unauthorized;
    this.log = log;
    this.countdown = 0;
    this.was_lost = false;
    banner.querySelector("#retry-button").addEventListener("click", () => bridge.reconnect_now());
    taken_over.querySelector("#take-back-button").addEventListener("click", () => {
      taken_over.hidden = true;
      bridge.reconnect_now();
    });
    bridge.addEventListener("state", (e) => this.show(e.detail));
  }

  show({ state, retry_at, attempt }) {
    clearInterval(this.countdown);
    this.indicator.dataset.state = state;
    document.body.dataset.link = state;
    const text = this.indicator.querySelector(".conn-text");
    this.log?.(`connection ${state}`, attempt ? `attempt ${attempt}` : "");
    switch (state) {
      case "open":
        text.textContent = t("conn.open");
        this.banner.hidden = true;
        this.taken_over.hidden = true;
        this.unauthorized.hidden = true;
        if (this.was_lost) this.dispatch_restored();
        this.was_lost = false;
        break;
      case "connecting":
        text.textContent = t("conn.connecting");
        if (this.was_lost) this.banner_text(t("conn.retrying"));
        break;
      case "waiting": {
        this.was_lost = true;
        text.textContent = t("conn.retrying");
        const tick = () => {
          const seconds = Math.max(1, Math.ceil((retry_at - Date.now()) / 1000));
          this.banner_text(t("conn.waiting", { seconds }));
        };
        tick();
        this.countdown = setInterval(tick, 250);
        break;
      }
      case "taken-over":
        this.was_lost = true;
        text.textContent = t("conn.taken.title");
        this.banner.hidden = true;
        this.taken_over.hidden = false;
        this.taken_over.querySelector("#take-back-button").focus();
        break;
      case "unauthorized":
        text.textContent = t("wall.disconnected");
        this.banner.hidden = true;
        this.unauthorized.hidden = false;
        break;
      default:
        break;
    }
  }

  banner_text(text) {
    this.banner.hidden = false;
    this.banner.querySelector(".banner-text").textContent = text;
  }

  dispatch_restored() {
    this.banner.hidden = true;
    window.dispatchEvent(new CustomEvent("kavrel-restored"));
  }
}

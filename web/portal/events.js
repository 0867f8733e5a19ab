// The identifiers the control puts in nID of CliCallBackMsg, and the names its trace gives them.

export const EV = Object.freeze({
  P2P_CONNECTED: 256,
  SEARCH: 0x10000017,
  DEVICE_DESCRIPTION: 0x10000018,
  CAM_LIST: 0x1000001d,
  CAM_LIST_SAVED: 0x1000001e,
  DEV_LIST: 0x10000020,
  DEV_LIST_SAVED: 0x10000021,
  LIST_SERIALS: 0x10000022,
  LOG_ALARM: 0x20000001,
  HTTP_URL: 0x20001000,
  ADD_DEV: 0x20001001,
  RECORD_QUERY: 0x20001002,
  ALERT: 0x20001003,
  LOGIN: 0x20001004,
  RECORD_STATUS: 0x20001005,
  GET_DEVINFO: 0x20001006,
  SNAPSHOT: 0x12007,
  PANE_CLOSED: 0x12100,
  LIVE_LOGIN_FAILED: 0x12101,
  PANE_SELECTED: 0x12300,
  LIVE_STARTED: 0x30000,
  EXPORT_STARTED: 0x30003,
});

const names = new Map([
  [256, "CB_CALLBACK_P2P_CONNECTED"],
  [0x10000017, "c2d_search_res"],
  [0x10000018, "c2d_get_devinfo_res"],
  [0x1000001d, "c2s_get_camlist_sp_res"],
  [0x1000001e, "c2s_set_camlist_sp_res"],
  [0x10000020, "c2s_get_dev_list_sp_res"],
  [0x10000021, "c2s_set_dev_list_sp_res"],
  [0x10000022, "c2s_get_dev_cam_list_sn_sp_res"],
  [0x20000001, "LOG_ALARM"],
  [0x20001000, "HTTP_URL_RES"],
  [0x20001001, "ADD_DEV_RES"],
  [0x20001002, "RECORD_QUERY_RES"],
  [0x20001003, "ALAERT_RES"],
  [0x20001004, "LOGIN_RES"],
  [0x20001005, "RECORD_QUERY_STATUS_RES"],
  [0x20001006, "GET_DEVINFO_RES"],
  [0x12007, "snapshot"],
  [0x12100, "pane closed"],
  [0x12101, "login before media failed"],
  [0x12300, "pane selected"],
  [0x30000, "live start"],
  [0x30003, "export start"],
]);

export function event_name(id) {
  return names.get(id) ?? "";
}

// The text with the values of password members written as ***, for the developer's log: the
// device list carries each device's login.
export function mask_secrets(text) {
  return String(text ?? "").replace(/("(?:dev_pass|password|pass|pkey_pass)"\s*:\s*)"(?:[^"\\]|\\.)*"/g, '$1"***"');
}

export function hex(id) {
  return "0x" + (id >>> 0).toString(16);
}

// The named arguments of one CliCallBackMsg, whatever shape the event arrived in: the `detail`
// of a control event, or the raw argument array of the bridge message.
export function callback_args(source) {
  const a = Array.isArray(source) ? source : Array.isArray(source?.args) ? source.args : null;
  if (a) {
    return { hContext: a[0], handle: a[1], nID: a[2], nTag1: a[3], nTag2: a[4], szInfo: a[5] ?? "", nInfoLen: a[6] ?? 0 };
  }
  return {
    hContext: source.hContext,
    handle: source.handle,
    nID: source.nID,
    nTag1: source.nTag1,
    nTag2: source.nTag2,
    szInfo: source.szInfo ?? "",
    nInfoLen: source.nInfoLen ?? 0,
  };
}

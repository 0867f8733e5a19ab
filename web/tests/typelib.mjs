// The control's type library description read from its C++ table, and the kavrel.js module made
// from it the way kavrel-host serves it. Used by the mock host, so the page can be exercised
// without the C++ build.

import { readFileSync } from "node:fs";

const TYPE = { L: "long", S: "BSTR", B: "BOOL", V: "void" };

function read_members(text, start_marker) {
  const start = text.indexOf(start_marker);
  const end = text.indexOf("return table;", start);
  const body = text.slice(start, end);
  const members = [];
  const head = /\{(DISPID_ABOUTBOX|DISPID_\w+|-?\d+),\s*"(\w+)",\s*([LSBV]),\s*\{/g;
  let m;
  while ((m = head.exec(body))) {
    // The parameter list runs to the brace that closes the one just opened.
    let depth = 1;
    let i = head.lastIndex;
    while (depth > 0 && i < body.length) {
      if (body[i] === "{") depth += 1;
      else if (body[i] === "}") depth -= 1;
      i += 1;
    }
    const params = [...body.slice(head.lastIndex, i - 1).matchAll(/\{"(\w+)",\s*([LSB])\}/g)].map((p) => ({ name: p[1], type: TYPE[p[2]] }));
    const id = m[1] === "DISPID_ABOUTBOX" ? -552 : m[1] === "DISPID_CliCallBackMsg" ? 32 : m[1] === "DISPID_CliCreatedNotify" ? 34 : Number(m[1]);
    members.push({ dispid: id, name: m[2], result: TYPE[m[3]], params });
    head.lastIndex = i;
  }
  return members;
}

export function read_typelib(cpp_path) {
  const text = readFileSync(cpp_path, "utf8");
  return {
    dispinterface: { name: "_Dkavrel", methods: read_members(text, "methods() {") },
    events: { name: "_DkavrelEvents", methods: read_members(text, "events() {") },
  };
}

export function make_kavrel_js(typelib) {
  const out = [];
  out.push("// The kavrel control as script sees it, made from the type library description.");
  out.push("export const EVENTS = " + JSON.stringify(Object.fromEntries(typelib.events.methods.map((e) => [e.name, e.params.map((p) => p.name)]))) + ";");
  out.push("export class KavrelControl {");
  out.push("  #listeners = new Map(Object.keys(EVENTS).map((name) => [name, new Set()]));");
  out.push("  constructor(transport) {");
  out.push("    this.transport = transport;");
  out.push("    transport.onEvent((name, args) => { for (const fn of [...(this.#listeners.get(name) ?? [])]) fn(...args); });");
  out.push("  }");
  out.push("  addEventListener(name, fn) { this.#listeners.get(name).add(fn); }");
  out.push("  removeEventListener(name, fn) { this.#listeners.get(name)?.delete(fn); }");
  for (const m of typelib.dispinterface.methods) {
    const names = m.params.map((p) => p.name).join(", ");
    out.push(`  ${m.name}(${names}) { return this.transport.call(${JSON.stringify(m.name)}, [${names}]); }`);
  }
  out.push("}");
  out.push("export default KavrelControl;");
  return out.join("\n") + "\n";
}

// The window program in the page: its 800 x 600 picture in a canvas, scaled like the desktop
// window (whole multiples, crisp), the keyboard as in the window, and its folder: settings files
// the user picks or drops go there, and every map it saves there is downloaded.
import { download, packPng, takeText, withStrings, acceptFiles } from "./files.js";

export const folder = "/orvandel";

// Keys that are no characters, by the names the key scripts use.
const namedKeys = {
  Enter: "Enter", Escape: "Esc", Backspace: "Backspace", Tab: "Tab",
  ArrowUp: "Up", ArrowDown: "Down", ArrowLeft: "Left", ArrowRight: "Right",
  Home: "Home", End: "End", PageUp: "PgUp", PageDown: "PgDn", Insert: "Ins", Delete: "Del",
  F1: "F1", F2: "F2", F3: "F3", F4: "F4", F5: "F5", F6: "F6", F7: "F7", F8: "F8", F9: "F9", F10: "F10",
};

// What a key press is to the program: ["named", name], ["text", character], or null for keys
// it never sees (F11, F12, shortcuts with Ctrl or the Meta key, which stay the browser's).
export function programKey(event) {
  if (event.isComposing || event.metaKey) return null;
  if (Object.hasOwn(namedKeys, event.key) && !event.ctrlKey && !event.altKey) return ["named", namedKeys[event.key]];
  // One character (AltGr gives Ctrl and Alt together on some systems).
  if ([...event.key].length === 1 && (!event.ctrlKey || event.altKey)) return ["text", event.key];
  return null;
}

// The size the 800 x 600 picture is shown at in an area: the largest whole multiple that fits
// (in device pixels, so that every picture pixel is a square of screen pixels), or scaled down
// with its shape kept when even 800 x 600 does not fit. CSS pixels.
export function pictureSize(width, height, ratio = 1) {
  const scale = Math.floor(Math.min((width * ratio) / 800, (height * ratio) / 600));
  if (scale >= 1) return { width: (800 * scale) / ratio, height: (600 * scale) / ratio };
  const fit = Math.max(0, Math.min(width / 800, height / 600));
  return { width: Math.floor(800 * fit), height: Math.floor(600 * fit) };
}

const sessions = new Map();

// The program's side of the page, called from its run (see PageProgram.cpp).
export const programHooks = {
  orvandelYield: (handle, idle) => sessions.get(handle).turn(idle),
  orvandelShow: (handle, pointer, first, last) => sessions.get(handle).view.show(pointer, first, last),
  orvandelSaved: (handle, path) => sessions.get(handle).view.saved(path),
  orvandelScriptDone: (handle) => sessions.get(handle).scriptDone(),
};

// One run of the program, from its banner to its end.
class Session {
  constructor(view, { script = "", clock = NaN } = {}) {
    this.view = view;
    this.core = view.core;
    const errorPointer = this.core._malloc(4);
    this.handle = withStrings(this.core, [folder, script], (dir, keys) =>
      this.core._orv_program_new(dir, clock, keys, errorPointer));
    const error = this.core.HEAPU32[errorPointer >> 2];
    this.core._free(errorPointer);
    if (!this.handle) throw new Error(takeText(this.core, error));
    sessions.set(this.handle, this);
    this.scripted = script !== "";
    this.wake = null;
    this.scriptEnded = new Promise((resolve) => (this.endScript = resolve));
  }

  async run() {
    const status = await this.core.ccall("orv_program_run", "number", ["number"], [this.handle], { async: true });
    this.status = status;
    this.endScript();
    return status;
  }

  // The page's turn: a moment for the browser to show the picture and pass keys on, or, when
  // the program is waiting for a key, until a key comes. A hidden view holds the run.
  turn(idle) {
    this.turns = (this.turns || 0) + 1;
    return new Promise((resolve) => {
      const go = () => {
        if (this.view.hidden && !this.scripted) this.view.onShown = go;
        else if (idle) this.wake = resolve;
        else this.view.nextTask(resolve);
      };
      go();
    });
  }

  key(kind, text) {
    withStrings(this.core, [text], (pointer) => this.core._orv_program_key(this.handle, kind === "named" ? 1 : 0, pointer));
    const wake = this.wake;
    this.wake = null;
    if (wake) wake();
  }

  scriptDone() {
    this.scripted = false;
    this.endScript();
  }

  text() {
    return this.core.UTF8ToString(this.core._orv_program_text(this.handle));
  }
}

export class ProgramView {
  constructor(core, page, elements) {
    this.core = core;
    this.page = page;
    this.el = elements;
    this.hidden = true;
    this.onShown = null;
    this.session = null;
    this.saving = [];
    this.context = elements.canvas.getContext("2d", { alpha: false });
    this.context.fillRect(0, 0, 800, 600);
    const channel = new MessageChannel();
    this.tasks = [];
    channel.port1.onmessage = () => this.tasks.shift()();
    this.nextTask = (resolve) => {
      this.tasks.push(resolve);
      channel.port2.postMessage(0);
    };
    core.FS.mkdirTree(folder);
    elements.canvas.addEventListener("keydown", (event) => this.keyDown(event));
    elements.canvas.addEventListener("pointerdown", () => elements.canvas.focus());
    elements.restart.addEventListener("click", () => this.start());
    acceptFiles(elements.view, elements.picker, (files) => this.addFiles(files));
    new ResizeObserver(() => this.fit()).observe(elements.stage);
    this.listFiles();
  }

  // Shown or hidden with its tab; the program starts the first time it is shown.
  setHidden(hidden) {
    this.hidden = hidden;
    if (hidden) return;
    this.fit();
    if (!this.session) this.start();
    this.el.canvas.focus();
    const resume = this.onShown;
    this.onShown = null;
    if (resume) resume();
  }

  fit() {
    const { clientWidth, clientHeight } = this.el.stage;
    const size = pictureSize(clientWidth, clientHeight, window.devicePixelRatio || 1);
    this.el.canvas.style.width = `${size.width}px`;
    this.el.canvas.style.height = `${size.height}px`;
  }

  // Runs the program; a run that ends leaves its last picture, and Enter starts another.
  async start(options = {}) {
    if (this.session && this.session.status === undefined) throw new Error("the program is running");
    this.el.ended.hidden = true;
    const session = new Session(this, options);
    this.session = session;
    try {
      await session.run();
      session.lastText = session.text();
    } finally {
      sessions.delete(session.handle);
      this.core._orv_program_delete(session.handle);
      session.handle = 0;
    }
    this.el.ended.hidden = false;
    return session;
  }

  // A whole session from a key script, as orvandel-headless replays it: resolves with the exit
  // status and the screen's text once the program has ended.
  async runScript(script, { clock = NaN, files = {} } = {}) {
    for (const [name, text] of Object.entries(files)) this.core.FS.writeFile(`${folder}/${name}`, text);
    const running = this.start({ script, clock });
    const session = this.session;
    await running;
    await Promise.all(this.saving);
    return { status: session.status, text: session.lastText };
  }

  keyDown(event) {
    const key = programKey(event);
    if (!key) return;
    event.preventDefault();
    if (this.session && this.session.status === undefined) {
      if (!this.session.scripted) this.session.key(...key);
    } else if (key[1] === "Enter") {
      this.start();
    }
  }

  show(pointer, first, last) {
    const rows = last - first + 1;
    const pixels = new Uint8ClampedArray(this.core.HEAPU8.buffer, pointer + first * 3200, rows * 3200);
    this.context.putImageData(new ImageData(pixels, 800, rows), 0, first);
  }

  // A map the program saved: downloaded under the name typed, its image data packed.
  saved(path) {
    const bytes = this.core.FS.readFile(path);
    this.listFiles();
    const name = path.slice(path.lastIndexOf("/") + 1);
    const saving = (async () => download(this.page, name, name.toLowerCase().includes(".png") ? await packPng(bytes) : bytes))();
    this.saving.push(saving);
    saving.finally(() => this.saving.splice(this.saving.indexOf(saving), 1));
  }

  async addFiles(files) {
    for (const file of files) this.core.FS.writeFile(`${folder}/${file.name}`, new Uint8Array(await file.arrayBuffer()));
    this.listFiles();
    this.el.canvas.focus();
  }

  listFiles() {
    const names = this.core.FS.readdir(folder).filter((n) => n !== "." && n !== ".." && !n.startsWith("."));
    this.el.files.replaceChildren(
      ...names.sort().map((name) => {
        const item = document.createElement("li");
        item.textContent = name;
        return item;
      }),
    );
    this.el.empty.hidden = names.length > 0;
  }
}

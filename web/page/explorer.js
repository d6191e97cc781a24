// The world explorer: a recipe (seed, size, generations, every settings key) in a form and in
// the page's address, the map made from it drawn generation by generation, zoom and pan, the
// report's figures, and the map's files to download. What a map offers (views to look at, files
// to download) is one table: a new kind is one entry there.
import { describeKey } from "./keys.js";
import { download, packPng, takeText, withStrings } from "./files.js";

const defaults = { width: 640, height: 400, generations: 100, untilSettled: false, settings: { continents: 4 } };
const maxSide = 4096;

// What a made map offers: a view (drawn from the map's pixels) and a file to download, or one of
// them. file(map) gives the bytes; name is what the download is called.
export const products = [
  {
    id: "map", label: "Map", view: (map) => map.pixels(),
    file: { label: "PNG with its recipe", name: (r) => `orvandel-${r.seed}.png`, bytes: async (map) => packPng(map.write("png")) },
  },
  { id: "grid", label: "Cell classes", file: { label: "Grid (.npy)", name: (r) => `orvandel-${r.seed}.npy`, bytes: async (map) => map.write("grid") } },
  // A world's terrain: views and files that a classic map has not got.
  {
    id: "atlas", label: "Atlas", world: true, view: (map) => map.terrainPixels(0),
    file: { label: "Atlas (PNG)", name: (r) => `orvandel-${r.seed}-atlas.png`, bytes: async (map) => packPng(map.write("atlas")) },
  },
  {
    id: "height", label: "Heights", world: true, view: (map) => map.terrainPixels(1),
    file: { label: "Heights (16-bit PNG)", name: (r) => `orvandel-${r.seed}-height.png`, bytes: async (map) => packPng(map.write("height", "png")) },
  },
  { id: "terrain", label: "Land and water", world: true, file: { label: "Land and water (.npy)", name: (r) => `orvandel-${r.seed}-terrain.npy`, bytes: async (map) => map.write("terrain") } },
  { id: "rivers", label: "Rivers", world: true, file: { label: "Rivers (GeoJSON)", name: (r) => `orvandel-${r.seed}-rivers.geojson`, bytes: async (map) => map.write("rivers") } },
  { id: "settings", label: "Settings", file: { label: "Settings file", name: (r) => `orvandel-${r.seed}.ini`, bytes: async (map) => new TextEncoder().encode(map.settingsText()) } },
  { id: "statistics", label: "Statistics", file: { label: "Statistics (JSON)", name: (r) => `orvandel-${r.seed}.json`, bytes: async (map) => map.write("stats", "json") } },
];

// The recipe in the page's address: #seed=42&size=640x400&generations=100&continents=4, the
// settings only where they differ from the presets.
export function recipeToHash(recipe, presets) {
  const parts = [`seed=${recipe.seed}`, `size=${recipe.width}x${recipe.height}`, `generations=${recipe.generations}`];
  if (recipe.untilSettled) parts.push("settled=1");
  if (recipe.seedFromClock) parts.push("clock=1");
  for (const [key, preset] of presets) {
    const value = recipe.settings[key];
    if (key !== "xsize" && key !== "ysize" && value !== undefined && value !== preset) parts.push(`${key}=${value}`);
  }
  return parts.join("&");
}

// The recipe an address gives, over the defaults; unknown names are listed apart.
export function recipeFromHash(hash, presets) {
  const recipe = { ...defaults, settings: { ...defaults.settings }, seed: null, unknown: [] };
  const known = new Set(presets.map(([key]) => key));
  for (const part of hash.replace(/^#/, "").split("&")) {
    if (!part) continue;
    const [name, value = ""] = part.split("=").map(decodeURIComponent);
    const number = Number(value);
    if (name === "size") {
      const match = /^(\d+)x(\d+)$/.exec(value);
      if (match) [recipe.width, recipe.height] = [Number(match[1]), Number(match[2])];
      else recipe.unknown.push(part);
    } else if (name === "seed" && Number.isInteger(number)) recipe.seed = number;
    else if (name === "generations" && Number.isInteger(number)) recipe.generations = number;
    else if (name === "settled") recipe.untilSettled = value === "1";
    else if (name === "clock") recipe.seedFromClock = value === "1";
    else if (known.has(name) && Number.isInteger(number)) recipe.settings[name] = number;
    else recipe.unknown.push(part);
  }
  return recipe;
}

export function randomSeed() {
  const words = new Uint32Array(1);
  crypto.getRandomValues(words);
  return (words[0] % 2147483647) + 1;
}

// One map in the core: made step by step, then finished.
export class CoreMap {
  constructor(core, recipe) {
    this.core = core;
    this.recipe = recipe;
    const settings = Object.entries({ ...recipe.settings, xsize: recipe.width, ysize: recipe.height })
      .map(([key, value]) => `${key}=${value}`)
      .join("\n");
    const errorPointer = core._malloc(4);
    this.handle = withStrings(core, [settings], (lines) =>
      core._orv_map_new(lines, recipe.seed, recipe.generations, recipe.untilSettled ? 1 : 0, recipe.seedFromClock ? 1 : 0, errorPointer));
    const error = core.HEAPU32[errorPointer >> 2];
    core._free(errorPointer);
    if (!this.handle) throw new Error(takeText(core, error));
    this.width = core._orv_map_width(this.handle);
    this.height = core._orv_map_height(this.handle);
    this.adjustments = JSON.parse(core.UTF8ToString(core._orv_map_adjustments(this.handle)));
    this.finished = false;
  }
  step(milliseconds) {
    return this.core._orv_map_step(this.handle, milliseconds);
  }
  finish() {
    this.statsText = this.core.UTF8ToString(this.core._orv_map_finish(this.handle));
    this.stats = JSON.parse(this.statsText);
    this.finished = true;
  }
  pixels() {
    const pointer = this.core._orv_map_pixels(this.handle);
    return new Uint8ClampedArray(this.core.HEAPU8.buffer, pointer, this.width * this.height * 4);
  }
  // A world's terrain as the canvas shows it (0 the atlas, 1 the heights); null for a classic map.
  terrainPixels(view) {
    const pointer = this.core._orv_map_terrain_pixels(this.handle, view);
    return pointer ? new Uint8ClampedArray(this.core.HEAPU8.buffer, pointer, this.width * this.height * 4) : null;
  }
  // One of the map's outputs by its name in the core's table; extension picks the format of those
  // whose file name says it (the heights: .npy or .png).
  write(kind, extension = kind) {
    const path = `/explorer.${extension}`;
    const status = withStrings(this.core, [kind, path], (k, p) => this.core._orv_map_write(this.handle, k, p));
    if (status !== 0) throw new Error(`the ${kind} file could not be made (${status})`);
    const bytes = this.core.FS.readFile(path);
    this.core.FS.unlink(path);
    return bytes;
  }
  settingsText() {
    return this.core.UTF8ToString(this.core._orv_map_settings_text(this.handle));
  }
  delete() {
    this.core._orv_map_delete(this.handle);
    this.handle = 0;
  }
}

export class Explorer {
  constructor(core, page, $) {
    this.core = core;
    this.page = page;
    this.$ = $;
    this.products = products;
    this.presets = JSON.parse(takeText(core, core._orv_settings_keys()));
    this.palette = Array.from({ length: 16 }, (_, i) => core._orv_palette_color(i) >>> 0);
    this.map = null;
    this.view = products[0];
    this.hidden = true;
    this.zoom = { scale: 1, x: 0, y: 0, fitted: true };
    this.picture = document.createElement("canvas");
    this.canvas = $("map");
    this.context = this.canvas.getContext("2d");
    const channel = new MessageChannel();
    const waiting = [];
    channel.port1.onmessage = () => waiting.shift()();
    // The browser's turn between two runs of generations, without the frame's wait.
    this.nextTask = () => new Promise((resolve) => {
      waiting.push(resolve);
      channel.port2.postMessage(0);
    });
    this.buildForm();
    this.buildProducts();
    this.wireStage();
    const recipe = recipeFromHash(location.hash, this.presets);
    if (recipe.seed === null) recipe.seed = randomSeed();
    this.setRecipe(recipe);
    this.firstMap = this.generate();
    window.addEventListener("hashchange", () => {
      if (location.hash === "#program" || location.hash === `#${this.hash}`) return;
      const next = recipeFromHash(location.hash, this.presets);
      if (next.seed === null) next.seed = randomSeed();
      this.setRecipe(next);
      this.generate();
    });
  }

  setHidden(hidden) {
    this.hidden = hidden;
    if (!hidden) this.draw();
  }

  // The form: seed, size and generations, the world's keys as sliders, every other key.
  buildForm() {
    const $ = this.$;
    this.inputs = {};
    for (const [key, preset, low, high] of this.presets) {
      if (key === "xsize" || key === "ysize") continue;
      const info = describeKey(key, low === undefined ? undefined : [low, high]);
      const [min, max] = info.range;
      const field = document.createElement("div");
      field.className = info.control === "slider" ? "slider" : "key";
      const label = document.createElement("label");
      label.htmlFor = `key-${key}`;
      label.innerHTML = `${key}<small>${info.text} (${min} .. ${max}; preset ${preset})</small>`;
      let input;
      if (info.control === "colour") {
        input = document.createElement("select");
        for (let value = min; value <= max; value++) {
          const option = document.createElement("option");
          option.value = String(value);
          option.textContent = value < 0 ? `${value} (water)` : String(value);
          if (value >= 0) option.style.background = this.css(this.palette[value]);
          input.append(option);
        }
      } else {
        input = document.createElement("input");
        input.type = "number";
        input.min = String(min);
        input.max = String(max);
        input.step = "1";
        input.required = true;
      }
      input.id = `key-${key}`;
      input.name = key;
      if (info.control === "slider") {
        const range = document.createElement("input");
        range.type = "range";
        range.min = String(min);
        range.max = String(max);
        range.setAttribute("aria-label", key);
        range.addEventListener("input", () => (input.value = range.value));
        input.addEventListener("input", () => (range.value = input.value));
        const title = document.createElement("span");
        title.append(label);
        field.append(title, range, input);
        this.inputs[key] = { input, range };
      } else {
        field.append(label, input);
        this.inputs[key] = { input };
      }
      (info.world ? $("world-keys") : $("other-keys")).append(field);
    }
    $("recipe").addEventListener("submit", (event) => {
      event.preventDefault();
      this.generate();
    });
    $("stop").addEventListener("click", () => (this.stopping = true));
    $("seed-next").addEventListener("click", () => this.newSeed(Number($("seed").value) + 1));
    $("seed-random").addEventListener("click", () => this.newSeed(randomSeed()));
    $("seed-copy").addEventListener("click", () => this.copySeed());
    $("presets").addEventListener("click", () => {
      for (const [key, preset] of this.presets) if (this.inputs[key]) this.setInput(key, preset);
    });
  }

  css(argb) {
    return `#${(argb & 0xffffff).toString(16).padStart(6, "0")}`;
  }

  setInput(key, value) {
    const { input, range } = this.inputs[key];
    input.value = String(value);
    if (range) range.value = String(value);
  }

  setRecipe(recipe) {
    const $ = this.$;
    $("seed").value = String(recipe.seed);
    $("width").value = String(recipe.width);
    $("height").value = String(recipe.height);
    $("generations").value = String(recipe.generations);
    $("until-settled").checked = recipe.untilSettled;
    for (const [key, preset] of this.presets)
      if (this.inputs[key]) this.setInput(key, recipe.settings[key] ?? preset);
    this.seedFromClock = Boolean(recipe.seedFromClock);
    this.unknown = recipe.unknown || [];
  }

  recipe() {
    const $ = this.$;
    const settings = {};
    for (const [key] of this.presets) if (this.inputs[key]) settings[key] = Number(this.inputs[key].input.value);
    return {
      seed: Number($("seed").value), width: Number($("width").value), height: Number($("height").value),
      generations: Number($("generations").value), untilSettled: $("until-settled").checked,
      seedFromClock: this.seedFromClock, settings,
    };
  }

  newSeed(seed) {
    this.$("seed").value = String(seed > 2147483647 ? -2147483648 : seed);
    this.seedFromClock = false;
    this.generate();
  }

  async copySeed() {
    const seed = this.$("seed").value;
    try {
      await navigator.clipboard.writeText(seed);
      this.status(`Seed ${seed} copied.`);
    } catch {
      this.$("seed").select();
      this.status(`Select the seed and copy it: ${seed}`);
    }
  }

  status(text) {
    this.$("status").textContent = text;
  }

  // Makes the map of the form's recipe, drawing it as it grows, until its last generation or
  // Stop. Resolves once it is made (or refused).
  async generate() {
    const $ = this.$;
    this.stopping = false;
    const run = (this.runs = (this.runs || 0) + 1);
    if (!$("recipe").checkValidity()) {
      $("recipe").reportValidity();
      this.status("The recipe has a value out of its range.");
      return;
    }
    const recipe = this.recipe();
    if (recipe.width > maxSide || recipe.height > maxSide) {
      this.status(`Maps here are at most ${maxSide} x ${maxSide}.`);
      return;
    }
    this.hash = recipeToHash(recipe, this.presets);
    history.replaceState(null, "", `#${this.hash}`);
    if (this.map) this.map.delete();
    this.map = null;
    let map;
    try {
      map = new CoreMap(this.core, recipe);
    } catch (error) {
      this.status(`No map: ${error.message}`);
      return;
    }
    this.map = map;
    this.picture.width = map.width;
    this.picture.height = map.height;
    this.pictureContext = this.picture.getContext("2d");
    if (this.zoom.fitted || this.zoom.width !== map.width || this.zoom.height !== map.height) this.fit();
    $("stop").disabled = false;
    $("adjustments").textContent = [...map.adjustments, ...this.unknown.map((p) => `${p}: not a setting; left out`)].join("; ");
    this.status(`Making the map of seed ${recipe.seed} ...`);
    const started = performance.now();
    let painted = performance.now();
    for (;;) {
      const drawn = map.step(20);
      if (run !== this.runs) return;
      if (drawn < 0 || this.stopping) break;
      // Shown about thirty times a second; a large map, whose painting costs, five times.
      const now = performance.now();
      if (now - painted > (map.width * map.height > 1 << 20 ? 200 : 33)) {
        this.paint();
        painted = performance.now();
        this.status(`Generation ${drawn} of seed ${recipe.seed} ...`);
      }
      await this.nextTask();
      if (run !== this.runs) return;
    }
    map.finish();
    this.paint();
    $("stop").disabled = true;
    this.report(map, performance.now() - started);
    this.status(`Seed ${recipe.seed}: ${map.width} x ${map.height}, ${map.stats.generations} generations.`);
  }

  paint() {
    if (!this.map) return;
    // A world's view of a classic map (or of a map still being made) shows the map itself.
    const pixels = (this.map.finished && this.view.view(this.map)) || this.map.pixels();
    this.pictureContext.putImageData(new ImageData(new Uint8ClampedArray(pixels), this.map.width, this.map.height), 0, 0);
    this.draw();
  }

  report(map, milliseconds) {
    const s = map.stats;
    const rows = [
      ["Seed", s.seed],
      ["Size", `${s.width} x ${s.height}`],
      ["Generations", s.generations],
      ["Cycles", s.cycles],
      ["Settled", s.settled ? `at ${s.settledAt}` : "no"],
      ["Stable", s.stable ? "yes" : "no"],
    ];
    const classes = [["Water", s.water], ["Land", s.land], ["Unchanged", s.unchanged]];
    if (s.sea.cells > 0 || s.landMasses) classes.push(["Sea", s.sea]);
    const figures = this.$("figures");
    figures.replaceChildren();
    const add = (term, value, color) => {
      const dt = document.createElement("dt");
      const dd = document.createElement("dd");
      if (color !== undefined) {
        const swatch = document.createElement("span");
        swatch.className = "swatch";
        swatch.style.background = color < 0 || color > 15 ? "transparent" : this.css(this.palette[color]);
        dt.append(swatch);
      }
      dt.append(term);
      dd.textContent = value;
      figures.append(dt, dd);
    };
    for (const [term, value] of rows) add(term, String(value));
    for (const [term, c] of classes) add(term, `${c.percent.toFixed(2)} %`, c.color);
    if (s.landMasses) add("Land masses", String(s.landMasses.count));
    add("Made in", `${Math.round(milliseconds)} ms`);
  }

  buildProducts() {
    const $ = this.$;
    for (const product of products) {
      if (product.view) {
        const button = document.createElement("button");
        button.type = "button";
        button.textContent = product.label;
        button.setAttribute("aria-pressed", String(product === this.view));
        button.addEventListener("click", () => {
          this.view = product;
          for (const b of $("views").children) b.setAttribute("aria-pressed", String(b === button));
          this.paint();
        });
        $("views").append(button);
      }
      if (product.file) {
        const button = document.createElement("button");
        button.type = "button";
        button.textContent = product.file.label;
        button.dataset.product = product.id;
        button.addEventListener("click", () => this.save(product));
        $("outputs").append(button);
      }
    }
  }

  async save(product) {
    if (!this.map || !this.map.finished) {
      this.status("The map is not made yet.");
      return;
    }
    if (product.world && !this.map.stats.landMasses) {
      this.status(`${product.file.label}: a world's, and this is a classic map (set continents to 1 or more).`);
      return;
    }
    const recipe = this.map.recipe;
    download(this.page, product.file.name(recipe), await product.file.bytes(this.map));
  }

  // Zoom with the wheel or the buttons, pan by dragging; a dropped PNG brings its recipe.
  wireStage() {
    const $ = this.$;
    const stage = $("stage");
    new ResizeObserver(() => this.draw()).observe(stage);
    this.canvas.addEventListener("wheel", (event) => {
      event.preventDefault();
      const rect = this.canvas.getBoundingClientRect();
      this.zoomBy(event.deltaY < 0 ? 1.25 : 0.8, event.clientX - rect.left, event.clientY - rect.top);
    }, { passive: false });
    let drag = null;
    this.canvas.addEventListener("pointerdown", (event) => {
      drag = { x: event.clientX, y: event.clientY };
      this.canvas.setPointerCapture(event.pointerId);
      this.canvas.classList.add("panning");
    });
    this.canvas.addEventListener("pointermove", (event) => {
      if (!drag) return;
      this.zoom.x -= (event.clientX - drag.x) / this.zoom.scale;
      this.zoom.y -= (event.clientY - drag.y) / this.zoom.scale;
      this.zoom.fitted = false;
      drag = { x: event.clientX, y: event.clientY };
      this.draw();
    });
    const end = () => {
      drag = null;
      this.canvas.classList.remove("panning");
    };
    this.canvas.addEventListener("pointerup", end);
    this.canvas.addEventListener("pointercancel", end);
    $("zoom-in").addEventListener("click", () => this.zoomBy(2));
    $("zoom-out").addEventListener("click", () => this.zoomBy(0.5));
    $("zoom-fit").addEventListener("click", () => this.fit());
    const open = async (files) => {
      const file = files.find((f) => f.name.toLowerCase().endsWith(".png")) || files[0];
      if (file) await this.openPng(file);
    };
    $("explorer").addEventListener("dragover", (event) => {
      event.preventDefault();
      stage.classList.add("dropping");
    });
    $("explorer").addEventListener("dragleave", () => stage.classList.remove("dropping"));
    $("explorer").addEventListener("drop", (event) => {
      event.preventDefault();
      stage.classList.remove("dropping");
      this.dropped = open([...event.dataTransfer.files]);
    });
    $("open-png").addEventListener("change", () => {
      this.dropped = open([...$("open-png").files]);
      $("open-png").value = "";
    });
  }

  // Makes the map of a PNG's recipe again, as orvandel-batch --from does.
  async openPng(file) {
    const path = "/opened.png";
    this.core.FS.writeFile(path, new Uint8Array(await file.arrayBuffer()));
    const found = JSON.parse(takeText(this.core, withStrings(this.core, [path], (p) => this.core._orv_recipe_of_png(p))));
    this.core.FS.unlink(path);
    if (found.error) {
      this.status(`${file.name}: ${found.error}`);
      return;
    }
    const settings = { ...found.settings };
    const recipe = {
      seed: found.seed, width: settings.xsize, height: settings.ysize, generations: found.generations,
      untilSettled: false, seedFromClock: found.seedSource === "clock", settings, unknown: [],
    };
    this.setRecipe(recipe);
    this.zoom.fitted = true;
    await this.generate();
  }

  fit() {
    const { clientWidth, clientHeight } = this.canvas;
    const width = this.map ? this.map.width : 1, height = this.map ? this.map.height : 1;
    const scale = Math.min(clientWidth / width, clientHeight / height) || 1;
    this.zoom = { scale, x: (width - clientWidth / scale) / 2, y: (height - clientHeight / scale) / 2, fitted: true, width, height };
    this.draw();
  }

  zoomBy(factor, atX = this.canvas.clientWidth / 2, atY = this.canvas.clientHeight / 2) {
    const z = this.zoom;
    const scale = Math.min(64, Math.max(0.02, z.scale * factor));
    z.x += atX / z.scale - atX / scale;
    z.y += atY / z.scale - atY / scale;
    z.scale = scale;
    z.fitted = false;
    this.draw();
  }

  draw() {
    if (this.hidden) return;
    const ratio = window.devicePixelRatio || 1;
    const width = Math.round(this.canvas.clientWidth * ratio), height = Math.round(this.canvas.clientHeight * ratio);
    if (this.canvas.width !== width || this.canvas.height !== height) {
      this.canvas.width = width;
      this.canvas.height = height;
      if (this.zoom.fitted && this.map) return this.fit();
    }
    const c = this.context;
    c.setTransform(1, 0, 0, 1, 0, 0);
    c.fillStyle = "#000";
    c.fillRect(0, 0, width, height);
    if (!this.map) return;
    c.imageSmoothingEnabled = false;
    const z = this.zoom;
    c.setTransform(z.scale * ratio, 0, 0, z.scale * ratio, -z.x * z.scale * ratio, -z.y * z.scale * ratio);
    c.drawImage(this.picture, 0, 0);
  }
}

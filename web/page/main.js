// The page: its two views (the world explorer and the program) over one instance of the core.
import { ProgramView, programHooks } from "./program.js";
import { Explorer } from "./explorer.js";

const $ = (id) => document.getElementById(id);

const page = { ready: null, downloads: null };
window.orvandel = page;

page.ready = (async () => {
  const started = performance.now();
  const core = await createOrvandel({ ...programHooks });
  page.core = core;
  page.program = new ProgramView(core, page, {
    view: $("program"), stage: $("screen-stage"), canvas: $("screen"), ended: $("ended"), restart: $("restart"),
    files: $("file-list"), empty: $("no-files"), picker: $("file-picker"),
  });
  page.explorer = new Explorer(core, page, $);
  const tabs = [...document.querySelectorAll('[role="tab"]')];
  const show = (name) => {
    for (const tab of tabs) {
      const selected = tab.dataset.view === name;
      tab.setAttribute("aria-selected", String(selected));
      $(tab.dataset.view).hidden = !selected;
    }
    page.program.setHidden(name !== "program");
    page.explorer.setHidden(name !== "explorer");
  };
  page.show = show;
  for (const tab of tabs) tab.addEventListener("click", () => show(tab.dataset.view));
  show(location.hash === "#program" ? "program" : "explorer");
  await page.explorer.firstMap;
  // From the start of the page's loading: performance.now() counts from there.
  page.firstMapMs = performance.now();
  page.scriptMs = started;
})();
// Generations per second of the explorer's maps (as the batch generator makes them) with the
// presets at 400 x 400 and 2048 x 2048, and of the program's generations (drawn, as the window
// draws them) at 400 x 400: bench/web-rate.sh sets them beside the native figures.
page.rate = async () => {
  await page.ready;
  const { CoreMap } = await import("./explorer.js");
  const rates = {};
  for (const [side, seconds] of [[400, 2], [2048, 4]]) {
    const map = new CoreMap(page.core, { seed: 42, width: side, height: side, generations: 1e9, settings: {} });
    map.step(0);
    let generations = 0;
    const start = performance.now();
    while (performance.now() - start < seconds * 1000) {
      map.step(0);
      generations++;
    }
    rates[`explorer_${side}`] = (generations * 1000) / (performance.now() - start);
    map.delete();
  }
  return rates;
};

page.ready.catch((error) => {
  $("status").textContent = `Orvandel could not start: ${error.message || error}`;
  console.error(error);
});

#!/usr/bin/python3
"""The page in a real browser (Debian's Chromium, headless), driven over the DevTools protocol
on a pipe and held to the native programs: orvandel-headless for the window program's sessions,
orvandel-batch for the explorer's maps.

    browser_test.py CASE     one of the cases below; exit status 0 passed, 1 failed, 77 skipped
    browser_test.py --rate   generations per second in the page (see bench/web-rate.sh)

Environment: ORVANDEL_WEB_SITE (the built page), ORVANDEL_HEADLESS_PATH, ORVANDEL_BATCH_PATH,
ORVANDEL_SOURCE_DIR, and ORVANDEL_SCREENSHOTS (where the page's pictures go, optional).
"""

import base64
import functools
import hashlib
import http.server
import io
import json
import os
import select
import pathlib
import shutil
import subprocess
import sys
import tempfile
import threading

from PIL import Image

SKIP = 77
TIMEOUT = 120  # seconds any one step of the browser may take before the case fails
CHROMIUM = shutil.which("chromium")
SITE = pathlib.Path(os.environ.get("ORVANDEL_WEB_SITE", ""))
SOURCE = pathlib.Path(os.environ.get("ORVANDEL_SOURCE_DIR", "."))
GOLDEN = SOURCE / "tests" / "golden"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Server:
    """The built page on a port of the loopback address, as tools/serve-web.sh serves it."""

    def __init__(self, directory):
        handler = functools.partial(QuietHandler, directory=str(directory))
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}/"
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Browser:
    """Headless Chromium with one page, spoken to over --remote-debugging-pipe."""

    def __init__(self, profile):
        to_browser, self.writer = os.pipe()
        self.reader, from_browser = os.pipe()
        args = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-extensions", "--mute-audio", f"--user-data-dir={profile}", "--remote-debugging-pipe",
                "--window-size=1600,1000", "about:blank"]
        self.log = open(pathlib.Path(profile) / "chromium.log", "w")
        self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
                                        pass_fds=(3, 4), preexec_fn=lambda: (os.dup2(to_browser, 3), os.dup2(from_browser, 4)))
        os.close(to_browser)
        os.close(from_browser)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        self.session = None
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Log"):
            self.call(f"{domain}.enable")

    def _message(self):
        while b"\0" not in self.buffer:
            if not select.select([self.reader], [], [], TIMEOUT)[0]:
                raise Failure(f"the browser said nothing for {TIMEOUT} s")
            chunk = os.read(self.reader, 1 << 20)
            if not chunk:
                raise Failure("the browser went away")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None):
        self.next_id += 1
        request = {"id": self.next_id, "method": method, "params": params or {}}
        if self.session:
            request["sessionId"] = self.session
        os.write(self.writer, json.dumps(request).encode() + b"\0")
        while True:
            message = self._message()
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise Failure(f"{method}: {message['error'].get('message')}")
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)

    def evaluate(self, expression):
        """The value of a JavaScript expression, awaited; an exception in the page fails the case."""
        result = self.call("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                "returnByValue": True, "timeout": TIMEOUT * 1000})
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise Failure(f"in the page: {details.get('exception', {}).get('description') or details.get('text')}")
        return result["result"].get("value")

    def load(self, url):
        """Loads a document (never one that differs from the last in its address's # part alone,
        which only moves within the document)."""
        seen = len(self.events)
        self.call("Page.navigate", {"url": url})
        while not any(e.get("method") == "Page.loadEventFired" for e in self.events[seen:]):
            message = self._message()
            if "method" in message:
                self.events.append(message)

    def open(self, url):
        """Loads the page afresh and waits until it has made its first map."""
        self.load("about:blank")
        self.load(url)
        self.evaluate("orvandel.ready")

    def errors(self):
        """Console errors and exceptions the page has reported."""
        found = []
        for event in self.events:
            method, params = event.get("method"), event.get("params", {})
            if method == "Runtime.exceptionThrown":
                found.append(params["exceptionDetails"].get("exception", {}).get("description", "an exception"))
            elif method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
                found.append(" ".join(str(a.get("value", a.get("description"))) for a in params.get("args", [])))
            elif method == "Log.entryAdded" and params["entry"].get("level") == "error":
                found.append(params["entry"].get("text"))
        return found

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", {"format": "png"})["data"]
        pathlib.Path(path).write_bytes(base64.b64decode(data))

    def close(self):
        try:
            self.call("Browser.close")
        except Failure:
            pass
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.reader)
        os.close(self.writer)
        self.log.close()


def pixels(png_bytes):
    """A PNG's size and its pixels as R, G, B, A bytes."""
    image = Image.open(io.BytesIO(png_bytes))
    return image.size, image.convert("RGBA").tobytes()


def run(command, cwd):
    result = subprocess.run(command, cwd=cwd, capture_output=True, timeout=TIMEOUT)
    return result.returncode, result.stdout.decode(errors="replace"), result.stderr.decode(errors="replace")


def page_bytes(browser, expression):
    return base64.b64decode(browser.evaluate(f"""(async () => {{
        const bytes = await ({expression});
        let text = ""; for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
        return btoa(text); }})()"""))


CAPTURE = "orvandel.downloads = []"
LAST_DOWNLOAD = "orvandel.downloads.at(-1).bytes"
SCREEN = """(() => { const c = document.getElementById('screen').getContext('2d');
    return c.getImageData(0, 0, 800, 600).data; })()"""


def headless_session(work, keys, clock=None, ini=None):
    """orvandel-headless on a key script: its exit status, screen text, screen pixels and saved map."""
    (work / "session.keys").write_text(keys)
    command = [os.environ["ORVANDEL_HEADLESS_PATH"], "--script", "session.keys", "--screen-png", "screen.png",
               "--screen-text", "screen.txt"]
    if clock is not None:
        command += ["--clock", clock]
    status, _, stderr = run(command, work)
    saved = work / "map.png"
    return {"status": status, "text": (work / "screen.txt").read_text(), "screen": pixels((work / "screen.png").read_bytes()),
            "map": pixels(saved.read_bytes()) if saved.exists() else None, "stderr": stderr}


def page_session(browser, keys, clock=None, files=None):
    options = {"clock": float(clock) if clock is not None else None, "files": files or {}}
    result = browser.evaluate(f"""(async () => {{ {CAPTURE};
        const options = {json.dumps(options)}; if (options.clock === null) delete options.clock;
        return await orvandel.program.runScript({json.dumps(keys)}, options); }})()""")
    screen = page_bytes(browser, SCREEN)
    downloads = browser.evaluate("orvandel.downloads.map(d => d.name)")
    saved = page_bytes(browser, LAST_DOWNLOAD) if downloads else None
    return result, screen, downloads, saved


def case_sessions(browser, work):
    """Whole sessions of the window program from the golden key scripts: the presets, a settings
    file with flows, a seed from the clock. The page ends as orvandel-headless does: the same
    screen, text and pixels, and the same saved map."""
    for name in ("presets-42", "flows", "clock-seed"):
        keys = (GOLDEN / "sessions" / f"{name}.keys").read_text()
        clock = keys[len("# clock "):].split()[0] if keys.startswith("# clock ") else None
        ini = GOLDEN / "sessions" / f"{name}.ini"
        files = {ini.name: ini.read_text()} if ini.exists() else {}
        here = work / name
        here.mkdir()
        for file, text in files.items():
            (here / file).write_text(text)
        expected = headless_session(here, keys, clock)
        result, screen, downloads, saved = page_session(browser, keys, clock, files)
        check(expected["status"] == 0, f"{name}: orvandel-headless ended with {expected['status']}: {expected['stderr']}")
        check(result["status"] == 0, f"{name}: the page's program ended with {result['status']}")
        check(result["text"] == expected["text"], f"{name}: screen text\n{result['text']}\nexpected\n{expected['text']}")
        check(screen == expected["screen"][1], f"{name}: the screen's pixels differ from orvandel-headless's")
        check(downloads == ["map.png"], f"{name}: downloads {downloads}")
        check(pixels(saved) == expected["map"], f"{name}: the saved map's pixels differ")
        print(f"{name}: same screen and map as orvandel-headless")
    # The speed pause, which looks for keys while it runs, and a save that fails first.
    here = work / "speed"
    here.mkdir()
    (here / "slow.ini").write_text("speed=3000\n")
    keys = ("key Enter\ntype slow\nkey Enter\nkey Enter\ntype 5\nkey Enter\nkey Enter\nwait 12\nkey Space\n"
            "key Enter\ntype y\nkey Enter\ntype no/such/dir\nkey Enter\nkey Enter\ntype yes\nkey Enter\n"
            "type map\nkey Enter\nkey Enter\n")
    expected = headless_session(here, keys)
    result, screen, downloads, saved = page_session(browser, keys, None, {"slow.ini": "speed=3000\n"})
    check(result["status"] == expected["status"] == 0, f"speed: ended with {result['status']}, {expected['status']}")
    check(result["text"] == expected["text"] and screen == expected["screen"][1], "speed: the screen differs")
    check(downloads == ["map.png"] and pixels(saved) == expected["map"], f"speed: downloads {downloads}")
    print("speed: same screen and map as orvandel-headless")


def press(browser, kind, text=None):
    browser.evaluate("document.getElementById('screen').focus()")
    if kind == "text":
        for char in text:
            browser.call("Input.dispatchKeyEvent", {"type": "keyDown", "key": char, "text": char})
            browser.call("Input.dispatchKeyEvent", {"type": "keyUp", "key": char})
        return
    code = {"Enter": 13, "Backspace": 8}[kind]
    for event in ("rawKeyDown", "keyUp"):
        browser.call("Input.dispatchKeyEvent", {"type": event, "key": kind, "code": kind, "windowsVirtualKeyCode": code})


WAITING = """new Promise(r => { const poll = () => { const s = orvandel.program.session;
    if (s && s.wake) r(s.text()); else setTimeout(poll, 5); }; poll(); })"""


def case_keyboard(browser, work):
    """Keys pressed on the page's canvas reach the program as the window's keys do: arrows and
    Enter, text with letters of code page 437 (é), and a settings file that is not there. The
    generations then run on by themselves until a key stops them."""
    browser.evaluate("orvandel.show('program')")
    for kind, text in [("Enter", None), ("text", "missing"), ("Enter", None), ("text", "4é"), ("Backspace", None),
                       ("text", "2")]:
        press(browser, kind, text)
    # The program has taken every key and waits for the next one.
    text = browser.evaluate(WAITING)
    keys = "key Enter\ntype missing\nkey Enter\ntype 4é\nkey Backspace\ntype 2\n"
    expected = headless_session(work, keys)
    check(expected["status"] == 3, "orvandel-headless did not wait for more keys")
    check(text == expected["text"], f"screen text\n{text}\nexpected\n{expected['text']}")
    screen = page_bytes(browser, SCREEN)
    check(screen == expected["screen"][1], "the screen's pixels differ from orvandel-headless's")
    press(browser, "Enter")
    browser.evaluate(WAITING)
    press(browser, "Enter")
    turns = browser.evaluate("""new Promise(r => { const s = orvandel.program.session, from = s.turns;
        const poll = () => s.turns >= from + 5 ? r(s.turns - from) : setTimeout(poll, 5); poll(); })""")
    check(turns >= 5 and browser.evaluate("orvandel.program.session.wake") is None, "the generations stopped by themselves")
    press(browser, "text", " ")
    check("Variations ended at" in browser.evaluate(WAITING), "a key did not stop the generations")


def batch_map(work, args):
    """orvandel-batch's PNG pixels, statistics and grid for arguments."""
    status, _, stderr = run([os.environ["ORVANDEL_BATCH_PATH"], *args, "--quiet", "--out", "b.png", "--stats", "b.json",
                             "--grid", "b.npy"], work)
    check(status == 0, f"orvandel-batch {' '.join(args)}: {stderr}")
    return pixels((work / "b.png").read_bytes()), (work / "b.json").read_text(), (work / "b.npy").read_bytes()


def page_map(browser, recipe=None):
    """The explorer's map of a recipe (or of the page's address): PNG, statistics, grid."""
    if recipe is not None:
        browser.evaluate(f"orvandel.explorer.setRecipe({json.dumps(recipe)})")
        browser.evaluate("orvandel.explorer.generate()")
    browser.evaluate(CAPTURE)
    files = {}
    for product in ("map", "statistics", "grid"):
        browser.evaluate(f"orvandel.explorer.save(orvandel.explorer.products.find(p => p.id === '{product}'))")
        files[product] = page_bytes(browser, LAST_DOWNLOAD)
    return files["map"], files["statistics"].decode(), files["grid"]


def batch_args(recipe):
    args = ["--seed", str(recipe["seed"]), "--size", f"{recipe['width']}x{recipe['height']}",
            "--generations", str(recipe["generations"])]
    if recipe.get("untilSettled"):
        args.append("--until-settled")
    for key, value in recipe.get("settings", {}).items():
        args += ["--set", f"{key}={value}"]
    return args


def same_map(work, browser, recipe, label):
    png, stats, grid = page_map(browser, recipe)
    if recipe["seed"] == 0:
        return png  # the page's seed 0 is a seed like any other; orvandel-batch --seed 0 asks the clock
    expected_pixels, expected_stats, expected_grid = batch_map(work, batch_args(recipe))
    check(pixels(png) == expected_pixels, f"{label}: the PNG's pixels differ from orvandel-batch's")
    check(stats == expected_stats, f"{label}: statistics\n{stats}\nexpected\n{expected_stats}")
    check(grid == expected_grid, f"{label}: the grid differs from orvandel-batch's")
    return png


def case_explorer(browser, work):
    """The explorer's maps for seeds, sizes and settings are orvandel-batch's: pixels, statistics
    and grid; its PNG's recipe makes the same map again with orvandel-batch --from (seed 0 too,
    which is a seed as any other in the page)."""
    recipes = [
        {"seed": 2026, "width": 1024, "height": 1024, "generations": 100, "settings": {}},
        {"seed": 7, "width": 512, "height": 384, "generations": 30, "settings": {"continents": 4, "seacolor": 9}},
        {"seed": -5, "width": 2048, "height": 2048, "generations": 12,
         "settings": {"continents": 6, "landshare": 55, "islands": 90, "coastroughness": 70}},
        {"seed": 3, "width": 1, "height": 1, "generations": 3, "settings": {}},
        {"seed": 0, "width": 37, "height": 5, "generations": 9, "settings": {}},
        {"seed": 99, "width": 301, "height": 77, "generations": 500, "untilSettled": True,
         "settings": {"downupflow": 60, "upflowenabled": 1, "upflowratio": 40, "leftrightflow": 70,
                      "rightflowratio": 50, "erosion": 1, "oceanedgesizex": 9}},
        {"seed": 42, "width": 200, "height": 150, "generations": 400, "untilSettled": True, "settings": {}},
    ]
    for recipe in recipes:
        label = " ".join(batch_args(recipe))
        png = same_map(work, browser, recipe, label)
        if recipe["settings"].get("continents", 0) and recipe["width"] <= 512:
            # A world's atlas and heights, as orvandel-batch writes them.
            for product, option, name in (("atlas", "--atlas", "a.png"), ("height", "--height", "h.png")):
                browser.evaluate(f"orvandel.explorer.save(orvandel.explorer.products.find(p => p.id === '{product}'))")
                page = page_bytes(browser, LAST_DOWNLOAD)
                run([os.environ["ORVANDEL_BATCH_PATH"], *batch_args(recipe), "--quiet", option, name], work)
                expected = Image.open(work / name)
                check(Image.open(io.BytesIO(page)).tobytes() == expected.tobytes() and expected.size == (recipe["width"], recipe["height"]),
                      f"{label}: the page's {product} is not orvandel-batch's")
        (work / "page.png").write_bytes(png)
        status, _, stderr = run([os.environ["ORVANDEL_BATCH_PATH"], "--from", "page.png", "--out", "again.png",
                                 "--quiet"], work)
        check(status == 0 and stderr == "", f"{label}: orvandel-batch --from the page's PNG: {stderr}")
        check(pixels((work / "again.png").read_bytes()) == pixels(png), f"{label}: --from made another map")
        print(f"{label}: same map as orvandel-batch")


def case_address(browser, work, server):
    """A link makes its map: the address's recipe fills the form and gives orvandel-batch's map;
    a recipe changed in the form is in the address, and opening that address makes it again."""
    recipe = {"seed": 77, "width": 300, "height": 200, "generations": 40,
              "settings": {"continents": 3, "islands": 80, "seacolor": 12, "watercolor": 3}}
    browser.open(f"{server.url}index.html#seed=77&size=300x200&generations=40&continents=3&islands=80"
                 "&seacolor=12&watercolor=3")
    check(browser.evaluate("orvandel.explorer.recipe().settings.islands") == 80, "the address did not fill the form")
    png, stats, _ = page_map(browser)
    expected_pixels, expected_stats, _ = batch_map(work, batch_args(recipe))
    check(pixels(png) == expected_pixels and stats == expected_stats, "the address's map is not orvandel-batch's")
    # A change in the form: a slider moved and the form sent.
    browser.evaluate("""(async () => { const r = document.querySelector('input[type=range][aria-label=landshare]');
        r.value = '55'; r.dispatchEvent(new Event('input'));
        document.getElementById('recipe').requestSubmit(); })()""")
    browser.evaluate("new Promise(r => { const poll = () => orvandel.explorer.map && orvandel.explorer.map.finished ? r() : setTimeout(poll, 5); poll(); })")
    address = browser.evaluate("location.href")
    check("landshare=55" in address, f"the address does not carry the change: {address}")
    changed, changed_stats, _ = page_map(browser)
    recipe["settings"]["landshare"] = 55
    expected_pixels, expected_stats, _ = batch_map(work, batch_args(recipe))
    check(pixels(changed) == expected_pixels and changed_stats == expected_stats, "the changed map is not orvandel-batch's")
    browser.open(address)
    again, again_stats, _ = page_map(browser)
    check(pixels(again) == pixels(changed) and again_stats == changed_stats, "the link did not make the same map")


def drop(browser, name, data):
    """Drops a file on the explorer as a person drags one there, and waits for what follows."""
    browser.evaluate(f"""(async () => {{
        const bytes = Uint8Array.from(atob({json.dumps(base64.b64encode(data).decode())}), c => c.charCodeAt(0));
        const transfer = new DataTransfer(); transfer.items.add(new File([bytes], {json.dumps(name)}, {{type: 'image/png'}}));
        const target = document.getElementById('stage');
        target.dispatchEvent(new DragEvent('dragover', {{dataTransfer: transfer, bubbles: true, cancelable: true}}));
        target.dispatchEvent(new DragEvent('drop', {{dataTransfer: transfer, bubbles: true, cancelable: true}}));
        await orvandel.explorer.dropped; }})()""")


def case_dropped_png(browser, work):
    """A PNG that orvandel-batch made, dropped on the page, restores its recipe and its map; a
    file without a recipe, or no PNG at all, is refused with the reason."""
    args = ["--seed", "31", "--size", "257x129", "--generations", "23", "--set", "continents=3", "--set",
            "coastroughness=80", "--set", "downupflow=60", "--set", "landcolor=14"]
    expected_pixels, expected_stats, _ = batch_map(work, args)
    drop(browser, "b.png", (work / "b.png").read_bytes())
    recipe = browser.evaluate("orvandel.explorer.recipe()")
    check((recipe["seed"], recipe["width"], recipe["height"], recipe["generations"]) == (31, 257, 129, 23),
          f"the recipe restored is {recipe}")
    check(recipe["settings"]["coastroughness"] == 80 and recipe["settings"]["landcolor"] == 14, "the settings were not restored")
    png, stats, _ = page_map(browser)
    check(pixels(png) == expected_pixels and stats == expected_stats, "the dropped PNG's map is not orvandel-batch's")
    # The window program's own saves carry no recipe.
    image = io.BytesIO()
    Image.new("RGBA", (4, 4)).save(image, "PNG")
    drop(browser, "plain.png", image.getvalue())
    check("holds no recipe" in browser.evaluate("document.getElementById('status').textContent"), "a PNG without a recipe")
    drop(browser, "notes.png", b"not a picture at all")
    check("cannot be read" in browser.evaluate("document.getElementById('status').textContent"), "a file that is no PNG")
    check(browser.evaluate("orvandel.explorer.recipe().seed") == 31, "a refused file changed the recipe")


def case_page_loads(browser, work):
    """The page loads without a console error, makes its first map, shows the program's start
    screen, and both views are photographed for a look (and for the README)."""
    check(browser.evaluate("orvandel.firstMapMs") > 0, "no first map")
    shots = pathlib.Path(os.environ.get("ORVANDEL_SCREENSHOTS", work))
    shots.mkdir(parents=True, exist_ok=True)
    browser.screenshot(shots / "web-explorer.png")
    # The same world as its atlas.
    browser.evaluate("""(() => { const e = orvandel.explorer;
        [...document.querySelectorAll('#views button')].find(b => b.textContent === 'Atlas').click(); })()""")
    browser.screenshot(shots / "web-atlas.png")
    browser.evaluate("orvandel.show('program')")
    text = browser.evaluate("""new Promise(r => { const poll = () => {
        const s = orvandel.program.session; if (s && s.wake) r(s.text()); else setTimeout(poll, 5); }; poll(); })""")
    check("Use pre-set conditions?" in text, f"the program's start screen:\n{text}")
    # In the 1600 x 1000 window the picture fits once, whole: 800 x 600 pixels.
    size = browser.evaluate("(r => [r.width, r.height])(document.getElementById('screen').getBoundingClientRect())")
    check(size == [800, 600], f"the program's picture is shown at {size}")
    browser.screenshot(shots / "web-program.png")
    print(f"first map {browser.evaluate('orvandel.firstMapMs'):.0f} ms after the page was opened; pictures in {shots}")


CASES = {"page_loads": case_page_loads, "sessions": case_sessions, "keyboard": case_keyboard,
         "explorer": case_explorer, "address": case_address, "dropped_png": case_dropped_png}


def main():
    name = sys.argv[1] if len(sys.argv) > 1 else ""
    if name not in CASES and name != "--rate":
        print(f"usage: browser_test.py {{{','.join(CASES)},--rate}}", file=sys.stderr)
        return 2
    if CHROMIUM is None or shutil.which("emcc") is None:
        print("SKIPPED: the page's tests need Emscripten and Chromium (tools/install-deps.sh --test installs them)")
        return SKIP
    if not (SITE / "orvandel.wasm").exists():
        print(f"FAILED: the page is not built in {SITE}: cmake --preset web && cmake --build --preset web")
        return 1
    with tempfile.TemporaryDirectory(prefix="orvandel-browser-") as temporary:
        work = pathlib.Path(temporary)
        (work / "profile").mkdir()
        server = Server(SITE)
        browser = Browser(work / "profile")
        try:
            browser.open(server.url + "index.html")
            if name == "--rate":
                print(json.dumps(browser.evaluate("orvandel.rate()")))
                return 0
            run_case = CASES[name]
            (work / "case").mkdir()
            if name == "address":
                run_case(browser, work / "case", server)
            else:
                run_case(browser, work / "case")
            errors = browser.errors()
            check(not errors, f"the page reported errors: {errors}")
            print(f"PASSED: {name}")
            return 0
        except Failure as failure:
            print(f"FAILED: {name}: {failure}")
            return 1
        finally:
            browser.close()
            server.close()


if __name__ == "__main__":
    sys.exit(main())

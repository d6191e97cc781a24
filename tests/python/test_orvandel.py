"""The Python module held to orvandel-batch: the same pictures, classes, statistics and mistakes."""

import json
import os
import subprocess
import sys
import threading
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import orvandel

BATCH = os.environ["ORVANDEL_BATCH"]
SOURCE = Path(os.environ["ORVANDEL_SOURCE_DIR"])
WORLD_INI = SOURCE / "examples" / "world.ini"


def batch(tmp_path, *args):
    """orvandel-batch's PNG pixels (decoded), --grid classes and --stats JSON for these arguments."""
    out, grid, stats = tmp_path / "batch.png", tmp_path / "batch.npy", tmp_path / "batch.json"
    subprocess.run([BATCH, *map(str, args), "--quiet", "--out", out, "--stats", stats, "--grid", grid],
                   check=True, capture_output=True)
    with Image.open(out) as png:
        pixels = np.asarray(png.convert("RGBA"))  # a palette PNG
    with open(stats) as f:
        return pixels, np.load(grid), json.load(f)


def batch_says(*args):
    """What orvandel-batch says first on stderr for these arguments, without its name."""
    run = subprocess.run([BATCH, *map(str, args), "--quiet", "--stats", "/nonexistent/never.json"],
                         capture_output=True, text=True)
    assert run.returncode != 0
    return run.stderr.splitlines()[0].removeprefix("orvandel-batch: ")


# The presets; a settings file with a vertical flow; overrides with horizontal flows and erosion
# (which never settle); overrides of a size of their own until settled (at generation 49).
FLOWS = {"landcolor": 12, "watercolor": "&h0E", "leftrightflow": 40, "rightflowratio": 30, "erosion": 1}
SETTLING = {"landcolor": 12, "watercolor": "&h0E", "oceanedgesizey": 10, "randratio": 45}
WORLD = {"continents": 3, "seacolor": 9, "islands": 60}
CASES = {
    "presets": (dict(seed=42), ["--seed", 42]),
    "settings file": (dict(seed=7, generations=60, settings=WORLD_INI),
                      ["--seed", 7, "--generations", 60, "--settings", WORLD_INI]),
    "flows": (dict(seed=3, generations=50, settings=FLOWS),
              ["--seed", 3, "--generations", 50] + [a for k, v in FLOWS.items() for a in ("--set", f"{k}={v}")]),
    "until settled": (dict(seed=3, width=300, height=200, generations=300, settings=SETTLING, until_settled=True),
                      ["--seed", 3, "--size", "300x200", "--generations", 300, "--until-settled"]
                      + [a for k, v in SETTLING.items() for a in ("--set", f"{k}={v}")]),
    "world": (dict(seed=5, width=256, height=192, settings=WORLD),
              ["--seed", 5, "--size", "256x192"] + [a for k, v in WORLD.items() for a in ("--set", f"{k}={v}")]),
}


@pytest.mark.parametrize("case", CASES)
def test_maps_are_the_batch_maps(tmp_path, case):
    kwargs, args = CASES[case]
    pixels, grid, stats = batch(tmp_path, *args)
    m = orvandel.generate(**kwargs)
    assert m.rgba.shape == (m.height, m.width, 4) and m.classes.dtype == np.uint8
    np.testing.assert_array_equal(m.rgba, pixels)
    np.testing.assert_array_equal(m.classes, grid)
    assert m.stats == stats
    assert (m.seed, m.generations) == (stats["seed"], stats["generations"])
    m.save_png(tmp_path / "saved.png")
    with Image.open(tmp_path / "saved.png") as png:
        np.testing.assert_array_equal(np.asarray(png.convert("RGBA")), pixels)
    # What the map says it was made from makes it again.
    again = orvandel.generate(m.seed, settings=m.settings, generations=m.generations)
    np.testing.assert_array_equal(again.rgba, m.rgba)


def test_a_world_shows_its_sea_and_land_masses():
    m = orvandel.generate(5, 256, 192, settings=WORLD)
    sea = m.classes == 3
    assert m.stats["sea"]["cells"] == sea.sum() > 0
    assert sum(m.stats["landMasses"]["cells"]) == m.width * m.height - sea.sum()
    assert (m.rgba[sea] == [0x55, 0x55, 0xFF, 0xFF]).all()  # seacolor 9


def test_maps_are_the_window_programs_saved_maps(tmp_path):
    # The presets, seed 42, stopped after 9 generations and saved as saved.png, by the headless runner.
    (tmp_path / "run.keys").write_text("key Up\nkey Enter\ntype 42\nkey Enter\nkey Space\nwait 9\nkey x\nkey x\n"
                                       "type yes\nkey Enter\ntype saved\nkey Enter\nkey Enter\n")
    subprocess.run([os.environ["ORVANDEL_HEADLESS"], "--script", "run.keys"], cwd=tmp_path, check=True)
    with Image.open(tmp_path / "saved.png") as png:
        np.testing.assert_array_equal(orvandel.generate(42, generations=9).rgba, np.asarray(png.convert("RGBA")))


def test_settings_and_clock_seeds():
    presets = orvandel.presets()
    assert list(presets) == list(orvandel.generate(1, 8, 8).stats["settings"])
    from_file = orvandel.read_settings(WORLD_INI)
    assert from_file != presets and orvandel.read_settings(str(WORLD_INI).encode()) == from_file
    by_dict = orvandel.generate(9, generations=20, settings=from_file)
    by_path = orvandel.generate(9, generations=20, settings=str(WORLD_INI))
    np.testing.assert_array_equal(by_dict.rgba, by_path.rgba)
    clock = orvandel.generate(0, 50, 40, generations=5)
    assert clock.seed not in (0, -1)
    np.testing.assert_array_equal(orvandel.generate(clock.seed, 50, 40, generations=5).classes, clock.classes)


def test_mistakes_in_the_batch_words(tmp_path):
    # Input that can make no map: the words after what was wrong are the batch's.
    for kwargs, args in [
        (dict(seed=2**40), ["--seed", 2**40]),
        (dict(seed=2**70), ["--seed", 2**70]),
        (dict(seed=1, generations=-1), ["--seed", 1, "--generations", -1]),
        (dict(seed=1, width=0), ["--seed", 1, "--size", "0x400"]),
        (dict(seed=1, width=70000, height=5), ["--seed", 1, "--size", "70000x5"]),
        (dict(seed=1, settings={"colour": 1}), ["--seed", 1, "--set", "colour=1"]),
    ]:
        with pytest.raises(ValueError) as e:
            orvandel.generate(**kwargs)
        assert str(e.value).split(": ", 1)[1] == batch_says(*args).split(": ", 1)[1]
    with pytest.raises(ValueError, match="clock's bit pattern"):
        orvandel.generate(-1)
    with pytest.raises(ValueError, match="null byte"):
        orvandel.read_settings("world\0.ini")

    # Files that cannot be read or written: the batch's message, and the errno's OSError.
    for error, path in [(FileNotFoundError, tmp_path / "missing.ini"), (IsADirectoryError, tmp_path)]:
        with pytest.raises(error) as e:
            orvandel.read_settings(path)
        assert e.value.strerror == batch_says("--seed", 1, "--settings", path)
        with pytest.raises(error):
            orvandel.generate(1, settings=path)
    target = tmp_path / "no-such-folder" / "map.png"
    with pytest.raises(OSError) as e:
        orvandel.generate(1, 8, 8).save_png(target)
    assert e.value.strerror == batch_says("--seed", 1, "--size", "8x8", "--out", target)

    # Sizes a settings dict gives out of range are brought into it, warned as the batch warns.
    with pytest.warns(UserWarning) as warned:
        m = orvandel.generate(1, settings={"xsize": 12, "ysize": 0, "oceanedgesizex": -2}, generations=3)
    said = subprocess.run([BATCH, "--seed", "1", "--set", "xsize=12", "--set", "ysize=0", "--set", "oceanedgesizex=-2",
                           "--generations", "3", "--stats", tmp_path / "s.json"], capture_output=True, text=True)
    assert [str(w.message) for w in warned] == [line.removeprefix("orvandel-batch: ")
                                                for line in said.stderr.splitlines()]
    assert (m.width, m.height) == (12, 1)

    for kwargs in [dict(seed="42"), dict(seed=True), dict(seed=1, width=2.5), dict(seed=1, settings=3.5),
                   dict(seed=1, settings={"landcolor": 2.5}), dict(seed=1, settings={1: 2})]:
        with pytest.raises(TypeError):
            orvandel.generate(**kwargs)


@pytest.mark.skipif("ORVANDEL_SANITIZED" in os.environ, reason="AddressSanitizer needs more address space")
def test_a_map_beyond_the_memory_there_is():
    limited = subprocess.run([sys.executable, "-c", "import resource, orvandel; "
                              "resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30)); "
                              "orvandel.generate(1, 65536, 65536, generations=1)"], capture_output=True, text=True)
    assert limited.stderr.splitlines()[-1] == "MemoryError: out of memory"  # the batch's words


def test_threads_make_the_same_maps_side_by_side():
    jobs = [dict(seed=11, width=700, height=500, generations=80),
            dict(seed=12, width=500, height=700, generations=90, settings=FLOWS)]
    one_after_another = [orvandel.generate(**job) for job in jobs]
    side_by_side = [None] * len(jobs)
    start = threading.Barrier(len(jobs))

    def make(i):
        start.wait()
        side_by_side[i] = orvandel.generate(**jobs[i])

    threads = [threading.Thread(target=make, args=(i,)) for i in range(len(jobs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, b in zip(one_after_another, side_by_side):
        np.testing.assert_array_equal(a.rgba, b.rgba)
        assert a.stats == b.stats


def test_a_large_map_is_seen_without_copies(tmp_path):
    m = orvandel.generate(5, 4096, 4096, generations=20)
    classes = m.classes
    assert classes.shape == (4096, 4096) and classes.base is m
    assert not classes.flags.owndata and not classes.flags.writeable
    assert classes.ctypes.data == m.classes.ctypes.data
    rgba = m.rgba
    assert rgba.base is m and rgba.ctypes.data == m.rgba.ctypes.data
    with pytest.raises(ValueError):
        classes[0, 0] = 1
    del m  # the views keep the map
    subprocess.run([BATCH, "--seed", "5", "--size", "4096x4096", "--generations", "20", "--quiet",
                    "--grid", tmp_path / "g.npy"], check=True)
    np.testing.assert_array_equal(classes, np.load(tmp_path / "g.npy"))
    assert int((rgba[..., 3] == 255).sum()) == 4096 * 4096


def test_the_example_draws_a_sheet(tmp_path):
    sheet = tmp_path / "sheet.png"
    subprocess.run([sys.executable, SOURCE / "examples" / "python" / "seed_sheet.py", sheet, "--generations", "5"],
                   check=True, capture_output=True)
    with Image.open(sheet) as png:
        assert png.size == (900, 900)


def fresh_python(code, timeout=60):
    """Runs code in an interpreter of its own (no NumPy imported first); its stdout."""
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout,
                          check=True).stdout


def test_hostile_callers_get_errors_not_hangs(tmp_path):
    with pytest.raises(TypeError):
        orvandel.Map.__new__(orvandel.Map)
    with pytest.raises(ValueError, match="holds no number"):
        orvandel.generate(1, 8, 8, settings={"continents": "lots"})
    m = orvandel.generate(3, 16, 16, generations=2)
    # Names that are not UTF-8 come back as the file system's names do.
    with pytest.raises(FileNotFoundError, match="no such directory"):
        m.save_png(b"/nonexistent/\xff.png")
    with pytest.raises(FileNotFoundError):
        orvandel.read_settings(b"/nonexistent\xff.ini")
    # One save for each output of the library's table, by name or by method.
    assert orvandel.OUTPUTS == ("png", "stats", "grid", "height", "terrain", "atlas", "rivers")
    m.save("stats", tmp_path / "a.json")
    m.save_stats(tmp_path / "b.json")
    assert json.loads((tmp_path / "a.json").read_text()) == m.stats == json.loads((tmp_path / "b.json").read_text())
    with pytest.raises(ValueError, match="no such output"):
        m.save("jpeg", tmp_path / "a.jpg")
    # Threads whose first look at the arrays comes at once, NumPy not imported before.
    assert fresh_python("import orvandel\nfrom concurrent.futures import ThreadPoolExecutor as P\n"
                        "with P(4) as p: print(sum(s[0] for s in p.map(lambda s: orvandel.generate("
                        "s, 64, 64, generations=3).rgba.shape, range(8))))") == "512\n"
    # Ctrl-C stops a run that would last for ever.
    out = fresh_python("import orvandel, os, signal, threading, time\n"
                       "threading.Timer(0.3, lambda: os.kill(os.getpid(), signal.SIGINT)).start()\n"
                       "try: orvandel.generate(1, 8, 8, generations=2**40)\n"
                       "except KeyboardInterrupt: print('stopped')")
    assert out == "stopped\n"


def test_a_worlds_terrain_is_the_batchs(tmp_path):
    world = orvandel.generate(6, 160, 120, generations=8, settings={"continents": 3, "rivers": 70})
    subprocess.run([BATCH, "--seed", "6", "--size", "160x120", "--generations", "8", "--set", "continents=3",
                    "--set", "rivers=70", "--quiet", "--height", tmp_path / "h.npy", "--terrain", tmp_path / "t.npy",
                    "--atlas", tmp_path / "a.png", "--stats", tmp_path / "s.json"], check=True)
    np.testing.assert_array_equal(world.heights, np.load(tmp_path / "h.npy"))
    np.testing.assert_array_equal(world.terrain, np.load(tmp_path / "t.npy"))
    with Image.open(tmp_path / "a.png") as atlas:
        np.testing.assert_array_equal(world.atlas[..., :3], np.asarray(atlas.convert("RGB")))
    assert world.heights.dtype == np.int16 and world.heights.base is world
    assert world.stats == json.loads((tmp_path / "s.json").read_text())
    assert world.stats["terrain"]["land"]["cells"] == int((world.terrain == 3).sum())
    classic = orvandel.generate(6, 16, 16, generations=2)
    for view in ("heights", "terrain", "atlas"):
        with pytest.raises(ValueError, match="continents"):
            getattr(classic, view)
    with pytest.raises(ValueError, match="needs a world"):
        classic.save_atlas(tmp_path / "c.png")

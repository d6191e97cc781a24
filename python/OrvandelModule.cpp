// The Python module orvandel: maps as NumPy arrays, over the library's public API alone.
//
// Table-driven on purpose: the settings are the library's keys, the statistics its JSON and the
// classes whatever it paints, so that a new key or class reaches Python without a change here.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <new>
#include <optional>
#include <orvandel/orvandel.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

std::string typeName(py::handle value) {
    return py::str(py::type::of(value).attr("__name__"));
}

// A whole number from Python: an int or anything with __index__ (NumPy's integers), never a bool
// or a float. Empty when it lies beyond 64 bits.
std::optional<std::int64_t> wholeNumber(py::handle value, const std::string& what) {
    if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
        throw py::type_error(what + ": expected an int, not " + typeName(value));
    const auto number = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!number) throw py::error_already_set();
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (overflow != 0) return std::nullopt;
    return static_cast<std::int64_t>(n);
}

// A file name from Python as open() takes one: a str, bytes or os.PathLike, in the file system's
// encoding; a name holding a NUL byte is refused as open() refuses it.
std::filesystem::path pathOf(py::handle name) {
    if (!py::isinstance<py::str>(name) && !py::isinstance<py::bytes>(name) && !py::hasattr(name, "__fspath__"))
        throw py::type_error("expected a path (str, bytes or os.PathLike), not " + typeName(name));
    const py::module_ os = py::module_::import("os");
    const auto bytes = os.attr("fsencode")(os.attr("fspath")(name)).cast<std::string>();
    if (bytes.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    return std::filesystem::path(bytes);
}

std::string numberText(py::handle value) {
    return py::str(py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr())));
}

// Each override as a line of a settings file would give it: an int as its decimal text (held at
// the 32-bit range's nearest end, as a file's numbers are), a str as it is ("&hFF").
orvandel::Settings settingsOf(py::handle settings) {
    if (settings.is_none()) return {};
    if (py::isinstance<py::dict>(settings)) {
        orvandel::Settings s;
        for (const auto& [key, value] : py::reinterpret_borrow<py::dict>(settings)) {
            if (!py::isinstance<py::str>(key))
                throw py::type_error("settings: a key is a str, such as 'landcolor', not " + typeName(key));
            const std::string name = key.cast<std::string>();
            if (py::isinstance<py::str>(value)) {
                s.set(name, value.cast<std::string>());
            } else {
                if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
                    throw py::type_error("settings['" + name + "']: expected an int or a str, not " + typeName(value));
                s.set(name, numberText(value));
            }
        }
        return s;
    }
    if (!py::isinstance<py::str>(settings) && !py::isinstance<py::bytes>(settings) &&
        !py::hasattr(settings, "__fspath__"))
        throw py::type_error("settings: expected None, a path or a dict of settings, not " + typeName(settings));
    const std::filesystem::path path = pathOf(settings);
    py::gil_scoped_release unlocked;
    return orvandel::Settings::fromFile(path);
}

py::dict dictOf(const orvandel::Settings& settings) {
    py::dict d;
    for (const auto& [key, value] : settings.items()) d[py::str(key)] = value;
    return d;
}

void warn(const std::string& message) {
    if (PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) != 0) throw py::error_already_set();
}

orvandel::Map generate(py::handle seed, py::handle width, py::handle height, py::handle generations,
                       py::handle settings, bool untilSettled) {
    const std::optional<std::int64_t> seedNumber = wholeNumber(seed, "seed");
    if (!seedNumber)
        throw py::value_error("seed " + numberText(seed) + ": beyond the seeds, -2147483648 .. 2147483647");
    const std::optional<std::int64_t> count = wholeNumber(generations, "generations");
    if (!count) throw py::value_error("generations " + numberText(generations) + ": beyond 64 bits");

    orvandel::Settings s = settingsOf(settings);
    // width and height as orvandel-batch --size: refused outside 1 .. maxMapSide, where the size a
    // settings file gives is brought into it with a warning.
    std::optional<std::int64_t> side[2] = {s.width(), s.height()};
    std::string sideText[2] = {std::to_string(s.width()), std::to_string(s.height())};
    bool sized = false;
    for (int i = 0; i < 2; ++i) {
        const py::handle given = i == 0 ? width : height;
        if (given.is_none()) continue;
        side[i] = wholeNumber(given, i == 0 ? "width" : "height");
        sideText[i] = numberText(given);
        sized = true;
    }
    if (sized) {
        for (const std::optional<std::int64_t>& n : side)
            if (!n || *n < 1 || *n > orvandel::maxMapSide)
                throw py::value_error("size " + sideText[0] + "x" + sideText[1] +
                                      ": expected WIDTHxHEIGHT, each from 1 to " +
                                      std::to_string(orvandel::maxMapSide));
        s.size(static_cast<std::int32_t>(*side[0]), static_cast<std::int32_t>(*side[1]));
    }
    orvandel::MapOptions options;
    options.generations = *count;
    options.untilSettled = untilSettled;
    // Ctrl-C: the signal is looked for between generations, at most every 20 ms, with the
    // interpreter's lock taken only then; the run stops and KeyboardInterrupt is raised.
    std::optional<py::error_already_set> interrupted;
    auto lastLook = std::chrono::steady_clock::now();
    options.progress = [&](const orvandel::Progress&) {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastLook < std::chrono::milliseconds(20)) return true;
        lastLook = now;
        const py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() == 0) return true;
        interrupted.emplace();  // takes the pending exception
        return false;
    };
    std::optional<orvandel::Map> map;
    try {
        const py::gil_scoped_release unlocked;
        map.emplace(orvandel::Map::generate(s, *seedNumber, options));
    } catch (const orvandel::Cancelled&) {
        if (interrupted) throw std::move(*interrupted);
        throw;
    }
    options.progress = nullptr;
    for (const std::string& warning : map->warnings()) warn(warning);
    return std::move(*map);
}

// A read-only view of bytes the map holds: the Map object is the array's base, so the map lives
// as long as any view of it.
template <class T>
py::array viewOf(py::object self, const std::vector<T>& (orvandel::Map::*values)() const,
                 std::vector<py::ssize_t> shape) {
    const auto& map = self.cast<const orvandel::Map&>();
    const std::vector<T>* data = nullptr;
    {
        py::gil_scoped_release unlocked;  // made on first use: a while for a large map
        data = &(map.*values)();
    }
    std::vector<py::ssize_t> strides(shape.size(), sizeof(T));
    for (std::size_t i = shape.size() - 1; i > 0; --i) strides[i - 1] = strides[i] * shape[i];
    py::array view(py::dtype::of<T>(), shape, strides, data->data(), self);
    view.attr("flags").attr("writeable") = false;
    return view;
}

const char* const kModuleDoc = R"(Orvandel's maps as NumPy arrays.

The same settings, seed and number of generations give the same map, pixel for pixel, as the
window program stopped after that many generations and as orvandel-batch.

    import orvandel
    m = orvandel.generate(42)                 # orvandel-batch --seed 42
    m.classes                                 # (400, 400) uint8: 0 water, 1 land, 2 unchanged
    m.rgba                                    # (400, 400, 4) uint8: the PNG's pixels
    m.save_png("map.png")                     # orvandel-batch --seed 42 --out map.png

Mistakes raise ValueError (a setting, seed, size or number of generations that can make no map)
and OSError (a file that cannot be read or written), in the words of orvandel-batch's messages.
Maps are independent of each other: generate() lets other threads run while it works, so that
threads can make maps side by side.)";

const char* const kGenerateDoc =
    R"(generate(seed, width=None, height=None, generations=100, settings=None, until_settled=False) -> Map

Makes a map, as orvandel-batch --seed SEED --generations GENERATIONS does.

seed: an int from -2147483648 to 2147483647 but -1; 0 takes a seed from the clock (Map.seed
    then tells which). Settings with random1 other than 1 use no seed (a warning says so).
width, height: the map's size, each from 1 to 65536, as --size; None keeps the settings' xsize
    and ysize (400 x 400 with the presets).
generations: how many generations are drawn, 0 or more; with until_settled, the most.
settings: None for the presets; a path (str or os.PathLike) of a settings file, read as the
    programs read it (see read_settings); or a dict of overrides applied to the presets in order,
    as --set KEY=VALUE: {'landcolor': 12, 'watercolor': '&h0E'}. A size or margin the settings
    give out of range is brought into it with a warning, as orvandel-batch warns.
until_settled: stop at the first generation from which the picture no longer changes
    (maps whose flows are left to chance never settle).

Raises ValueError for an unknown key or a value out of range, OSError for a settings file that
cannot be read, TypeError for arguments of the wrong type, MemoryError for a map too large.
Other Python threads run while the map is made.)";

const char* const kMapDoc = R"(One map, as the window program shows it when stopped after the generations drawn.

Made by orvandel.generate(). Its arrays are read-only views of the map's own memory: no copy is
made on access, and the map lives as long as any of them.)";

}  // namespace

PYBIND11_MODULE(orvandel, m) {
    // Every docstring begins with the call as a Python user writes it, instead of pybind11's types.
    py::options options;
    options.disable_function_signatures();
    m.doc() = kModuleDoc;
    m.attr("__version__") = orvandel::version();

    // The arrays' dtype is made once here, with NumPy imported: made for the first time by two
    // threads at once, its initialisation would wait for the interpreter's lock while holding
    // its own.
    py::module_::import("numpy");
    (void)py::dtype::of<std::uint8_t>();

    // Messages may name files whose names are not UTF-8: they are decoded as the file system's
    // names are (undecodable bytes as surrogates), never refused.
    py::register_exception_translator([](std::exception_ptr thrown) {
        auto text = [](const char* what) { return py::reinterpret_steal<py::object>(PyUnicode_DecodeFSDefault(what)); };
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const orvandel::FileError& e) {
            const std::error_code code = e.code();
            // OSError(errno, text) becomes FileNotFoundError, IsADirectoryError, ... by the number.
            if (code.category() == std::generic_category() || code.category() == std::system_category())
                PyErr_SetObject(PyExc_OSError, py::make_tuple(code.value(), text(e.what())).ptr());
            else
                PyErr_SetObject(PyExc_OSError, text(e.what()).ptr());
        } catch (const orvandel::Error& e) {
            PyErr_SetObject(PyExc_ValueError, text(e.what()).ptr());
        } catch (const std::bad_alloc&) {
            PyErr_SetString(PyExc_MemoryError, "out of memory");  // as orvandel-batch says it
        } catch (const std::length_error&) {
            PyErr_SetString(PyExc_MemoryError, "out of memory (a map too large for this machine)");
        }
    });

    m.def(
        "presets", [] { return dictOf(orvandel::Settings::presets()); },
        R"(presets() -> dict[str, int]

Every setting with its preset value (the window program's "yes" in its start-up menu), keyed by
the settings file's keys in their order; a 400 x 400 map.)");

    m.def(
        "read_settings",
        [](py::handle path) {
            const std::filesystem::path name = pathOf(path);
            return dictOf([&] {
                py::gil_scoped_release unlocked;
                return orvandel::Settings::fromFile(name);
            }());
        },
        py::arg("path"),
        R"(read_settings(path) -> dict[str, int]

The presets changed by a settings file, read by the programs' rules: key=value items on lines or
between commas, keys in any letter case, "&h" numbers; unknown keys and values without a number
pass as they do there. The file is a regular file (or a symbolic link to one) of at most 16 MiB.

Raises OSError, with the reason, for a file that cannot be read.)");

    m.def("generate", &generate, py::arg("seed"), py::arg("width") = py::none(), py::arg("height") = py::none(),
          py::arg("generations") = 100, py::arg("settings") = py::none(), py::arg("until_settled") = false,
          kGenerateDoc);

    py::class_<orvandel::Map>(m, "Map", kMapDoc)
        .def_property_readonly(
            "classes",
            [](py::object self) {
                const auto& map = self.cast<const orvandel::Map&>();
                return viewOf(self, &orvandel::Map::classes, {map.height(), map.width()});
            },
            R"(The cells' classes: a read-only numpy.ndarray of uint8, shape (height, width), rows top
first: 0 water, 1 land, 2 unchanged by the last generation (as orvandel-batch --grid writes
them; 3 is sea in the world mode). A view of the map's memory, no copy.)")
        .def_property_readonly(
            "rgba",
            [](py::object self) {
                const auto& map = self.cast<const orvandel::Map&>();
                return viewOf(self, &orvandel::Map::rgba, {map.height(), map.width(), 4});
            },
            R"(The picture: a read-only numpy.ndarray of uint8, shape (height, width, 4), R, G, B and A,
rows top first, pixel for pixel the PNG's. A view of the map's memory, no copy.)")
        .def_property_readonly(
            "heights",
            [](py::object self) {
                const auto& map = self.cast<const orvandel::Map&>();
                return viewOf(self, &orvandel::Map::heights, {map.height(), map.width()});
            },
            R"(A world's heights in metres, -8000 .. 8000 (land above 0, sea below): a read-only
numpy.ndarray of int16, shape (height, width), rows top first (what orvandel-batch --height
writes). ValueError for a classic map (continents 0). Made on first use, a view of the map's memory.)")
        .def_property_readonly(
            "terrain",
            [](py::object self) {
                const auto& map = self.cast<const orvandel::Map&>();
                return viewOf(self, &orvandel::Map::terrain, {map.height(), map.width()});
            },
            R"(A world's land and water: a read-only numpy.ndarray of uint8, shape (height, width): 0 sea,
1 lake, 2 river, 3 land (what orvandel-batch --terrain writes). ValueError for a classic map.)")
        .def_property_readonly(
            "atlas",
            [](py::object self) {
                const auto& map = self.cast<const orvandel::Map&>();
                return viewOf(self, &orvandel::Map::atlas, {map.height(), map.width(), 4});
            },
            R"(A world's atlas picture: a read-only numpy.ndarray of uint8, shape (height, width, 4), R, G,
B and A, pixel for pixel what orvandel-batch --atlas writes. ValueError for a classic map.)")
        .def_property_readonly(
            "stats",
            [](const orvandel::Map& map) { return py::module_::import("json").attr("loads")(map.statsJson()); },
            R"(The statistics as a dict, exactly what orvandel-batch --stats writes as JSON: the seed, the
size, the settings, the generations drawn and computed, whether and where the picture settled,
the cells and shares of water, land and unchanged cells, the sea and, for a world, its land
masses.)")
        .def_property_readonly(
            "settings", [](const orvandel::Map& map) { return dictOf(map.settings()); },
            R"(The settings the map was made from (sizes and margins brought into range), as a dict: with
Map.seed and Map.generations they make the same map again.)")
        .def_property_readonly("seed", &orvandel::Map::seed,
                               R"(The seed the map was made from: the one given, or the clock's when 0 was
given. 0 when the settings use no seed (random1 is not 1).)")
        .def_property_readonly("generations", &orvandel::Map::generations,
                               "The generations drawn (with until_settled, where the picture settled).")
        .def_property_readonly("width", &orvandel::Map::width, "The map's width in cells.")
        .def_property_readonly("height", &orvandel::Map::height, "The map's height in cells.")
        .def(
            "save",
            [](const orvandel::Map& map, const std::string& output, py::handle path) {
                const std::filesystem::path name = pathOf(path);
                py::gil_scoped_release unlocked;
                map.write(output, name);
            },
            py::arg("output"), py::arg("path"),
            R"(save(output, path) -> None

Writes one of the map's outputs (orvandel.OUTPUTS names them: 'png', 'stats', 'grid', ...) to a
file, as orvandel-batch writes it. A file is replaced only by a whole new one, keeping its
permission bits; a symbolic link's target is replaced; a FIFO or device is written into; a
directory is refused. Raises ValueError for an unknown output and OSError, with the reason, when
the file cannot be written. Map.save_png(path) and the like are the same for each output.)")
        .def("__new__",
             [](py::args) -> py::object { throw py::type_error("orvandel.Map is made by orvandel.generate()"); })
        .def("__repr__", [](const orvandel::Map& map) {
            return "<orvandel.Map " + std::to_string(map.width()) + " x " + std::to_string(map.height()) + ", seed " +
                   std::to_string(map.seed()) + ", " + std::to_string(map.generations()) + " generations>";
        });

    // A save method for each output of the library's table: save_png, save_stats, save_grid, ...
    py::list outputs;
    py::object mapType = m.attr("Map");
    for (const std::string& output : orvandel::Map::outputs()) {
        outputs.append(output);
        const std::string doc = "save_" + output + "(path) -> None\n\nMap.save('" + output +
                                "', path): " + orvandel::Map::describeOutput(output) + ".";
        py::setattr(mapType, ("save_" + output).c_str(),
                    py::cpp_function(
                        [output](const orvandel::Map& map, py::handle path) {
                            const std::filesystem::path name = pathOf(path);
                            py::gil_scoped_release unlocked;
                            map.write(output, name);
                        },
                        py::name(("save_" + output).c_str()), py::is_method(mapType), py::arg("path"), doc.c_str()));
    }
    m.attr("OUTPUTS") = py::tuple(outputs);
}

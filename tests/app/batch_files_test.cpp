// The batch generator's files: ranges side by side, the manifest, files that would meet, every
// kind of output, and the real program as a hostile user runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <numeric>
#include <orvandel/orvandel.hpp>
#include <sstream>

#include "app/Batch.hpp"
#include "io/PngText.hpp"
#include "io/PngWriter.hpp"
#include "map/MapFiles.hpp"
#include "map/Recipe.hpp"
#include "settings/Palette.hpp"
#include "settings/Settings.hpp"
#include "settings/TextFormat.hpp"
#include "tests/ExportSupport.hpp"
#include "tests/Session.hpp"
#include "tests/app/BatchSupport.hpp"

namespace orv::test {
namespace {

// Maps made side by side are the maps made one at a time, byte for byte, and are told of in
// seed order: random flows (which the engine would share between threads on a larger map) and
// all three outputs.
TEST(BatchGenerator, MapsMadeSideBySideAreTheMapsMadeOneAtATime) {
    TempDir dir;
    for (const char* jobs : {"1", "3"}) {
        const std::string folder = std::string("j") + jobs;
        std::filesystem::create_directory(dir.path() / folder);
        const std::string png = folder + "/{seed}.png", json = folder + "/{seed}.json", npy = folder + "/{seed}.npy",
                          manifest = folder + ".jsonl";
        BatchRun run = batch({"--seed",        "2-12",
                              "--size",        "45x31",
                              "--generations", "9",
                              "--set",         "downupflow=60",
                              "--set",         "upflowenabled=1",
                              "--set",         "leftrightflow=70",
                              "--out",         png.c_str(),
                              "--stats",       json.c_str(),
                              "--grid",        npy.c_str(),
                              "--manifest",    manifest.c_str(),
                              "--jobs",        jobs},
                             dir);
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const auto one = filesUnder(dir.path() / "j1");
    EXPECT_EQ(one.size(), 33u);
    EXPECT_TRUE(one == filesUnder(dir.path() / "j3"));
    const std::vector<nlohmann::json> lines = manifestLines(dir.path() / "j3.jsonl");
    ASSERT_EQ(lines.size(), 11u);
    for (int seed = 2; seed <= 12; ++seed) {
        const nlohmann::json& line = lines[static_cast<std::size_t>(seed - 2)];
        const std::filesystem::path stats = dir.path() / "j3" / (std::to_string(seed) + ".json");
        EXPECT_EQ(line["seed"], seed);
        EXPECT_EQ(line["files"]["stats"], stats.string());
        EXPECT_EQ(line["files"]["grid"], (dir.path() / "j3" / (std::to_string(seed) + ".npy")).string());
        EXPECT_EQ(line["statistics"], statsOf(stats));
    }
    // The manifests differ only in the folder's name.
    EXPECT_EQ(replaceAll(readBytes(dir.path() / "j1.jsonl"), "/j1/", "/j3/"), readBytes(dir.path() / "j3.jsonl"));
}

// A range's files go to the disk together: no flush of each file, but one of the file system
// before any of them takes its name (in seed order), and the manifest tells of them only after
// it. A flush that fails is an error: no map file, no line, no temporary file.
TEST(BatchGenerator, ARangeIsFlushedTogetherBeforeItIsReported) {
    for (const int error : {0, EIO}) {
        TempDir dir;
        FaultyFileSystem files;
        files.fileSystemSyncError = error;
        BatchRun run = batchArgs({"--seed", "1-3", "--size", "16x16", "--generations", "2", "--out", "{seed}.png",
                                  "--stats", "{seed}.json", "--manifest", "m.jsonl", "--jobs", "2"},
                                 dir, 500.5, false, files);
        if (error != 0) {
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find("cannot write " + (dir.path() / "1.png").string() + ": input/output error"),
                      std::string::npos)
                << run.err;
            EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"m.jsonl"});
            EXPECT_EQ(readBytes(dir.path() / "m.jsonl"), "");
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_GE(files.events.size(), 8u);
        EXPECT_EQ(files.events[0], "sync-file-system " + dir.path().string());
        std::vector<std::string> renamed;
        for (const std::string& event : files.events)
            if (event.starts_with("rename ")) renamed.push_back(std::filesystem::path(event).filename().string());
        EXPECT_EQ(renamed, (std::vector<std::string>{"1.png", "1.json", "2.png", "2.json", "3.png", "3.json"}));
        EXPECT_EQ(files.events.back(), "sync-directory " + dir.path().string());
        EXPECT_EQ(files.fileSyncs, 1);  // the manifest's, at the end
        EXPECT_EQ(manifestLines(dir.path() / "m.jsonl").size(), 3u);
    }
}

// The manifest is appended to, never replaced, and otherwise follows the output rule: through
// a symbolic link, into a FIFO; a directory is refused before any work, and so is a manifest
// that names an output. File names that are not UTF-8 still make lines of valid JSON.
TEST(BatchGenerator, TheManifestIsAppendedToByTheOutputRule) {
    TempDir dir;
    const auto& d = dir.path();
    std::filesystem::create_directory(d / "logs");
    std::filesystem::create_symlink("logs/all.jsonl", d / "link.jsonl");
    // Stray bytes, the leads C0 and C1 (overlong forms), a surrogate and a code point past U+10FFFF.
    const char* odd = "q\"\\\x01\xff\xc3\xa9\xc0\xaf\xc1\xbf\xed\xa0\x80\xf4\x90\x80\x80{seed}.json";
    for (int round = 0; round < 2; ++round)
        ASSERT_EQ(
            batch({"--seed", "5-6", "--size", "8x8", "--generations", "1", "--stats", odd, "--manifest", "link.jsonl"},
                  dir)
                .status,
            0);
    EXPECT_TRUE(isKind(d / "link.jsonl", S_IFLNK));
    const std::vector<nlohmann::json> lines = manifestLines(d / "logs" / "all.jsonl");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3]["seed"], 6);
    // A byte that is no UTF-8 reads as the character of its Latin-1 reading.
    EXPECT_EQ(lines[3]["files"]["stats"], (d / "q\"\\\x01\xc3\xbf\xc3\xa9\xc3\x80\xc2\xaf\xc3\x81\xc2\xbf\xc3\xad\xc2"
                                               "\xa0\xc2\x80\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"
                                               "6.json")
                                              .string());
    EXPECT_EQ(lines[3]["statistics"], statsOf(d / "q\"\\\x01\xff\xc3\xa9\xc0\xaf\xc1\xbf\xed\xa0\x80\xf4\x90\x80\x80"
                                                  "6.json"));

    FifoReader fifo(d / "pipe.jsonl");
    ASSERT_EQ(batch({"--seed", "7", "--size", "8x8", "--stats", "p.json", "--manifest", "pipe.jsonl"}, dir).status, 0);
    EXPECT_EQ(nlohmann::json::parse(fifo.take())["files"]["stats"], (d / "p.json").string());

    std::filesystem::create_directory(d / "dir.jsonl");
    BatchRun folder = batch({"--seed", "7", "--size", "8x8", "--stats", "x.json", "--manifest", "dir.jsonl"}, dir);
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(
        folder.err.find("cannot write to the manifest " + (d / "dir.jsonl").string() + ": a directory has that name"),
        std::string::npos)
        << folder.err;
    BatchRun same = batch({"--seed", "7", "--size", "8x8", "--stats", "s.json", "--manifest", "s.json"}, dir);
    EXPECT_EQ(same.status, 2);
    EXPECT_NE(same.err.find("name the same file"), std::string::npos) << same.err;
    EXPECT_FALSE(std::filesystem::exists(d / "x.json") || std::filesystem::exists(d / "s.json"));
}

// Files of a run that meet, whatever way they meet (a link to a file or to a directory, a
// dangling link, a range whose folders are one), and outputs that would destroy an input, are
// refused before any work: exit 2, nothing written.
TEST(BatchGenerator, FilesThatMeetThroughLinksOrInputsAreRefused) {
    TempDir dir;
    const auto& d = dir.path();
    std::filesystem::create_symlink("a.png", d / "b.json");
    std::filesystem::create_directory(d / "d1");
    std::filesystem::create_directory_symlink("d1", d / "d2");
    std::filesystem::create_directory(d / "r2");
    std::filesystem::create_directory_symlink("r2", d / "r1");
    std::filesystem::create_symlink("out.png", d / "man.jsonl");
    writeBytes(d / "s.ini", "landcolor=3\n");
    ASSERT_EQ(batch({"--seed", "5", "--size", "8x8", "--out", "made.png"}, dir).status, 0);
    const std::string made = readBytes(d / "made.png");
    std::filesystem::create_hard_link(d / "made.png", d / "hard.png");
    const std::vector<std::vector<const char*>> clashes = {
        {"--seed", "5", "--out", "a.png", "--stats", "b.json"},
        {"--seed", "5", "--out", "d1/x.png", "--stats", "d2/x.png"},
        {"--seed", "1-2", "--out", "r{seed}/x.png"},
        {"--seed", "5", "--out", "out.png", "--manifest", "man.jsonl"},
        {"--from", "made.png", "--stats", "made.png"},
        {"--from", "made.png", "--stats", "hard.png"},
        {"--from", "made.png", "--out", "c.png", "--manifest", "made.png"},
        {"--settings", "s.ini", "--seed", "5", "--out", "s.ini"},
        {"--settings", "s.ini", "--seed", "5", "--out", "c.png", "--manifest", "s.ini"},
    };
    for (std::vector<const char*> args : clashes) {
        args.insert(args.end(), {"--size", "8x8"});
        if (args[0] == std::string("--from")) args.resize(args.size() - 2);
        const BatchRun run = batchArgs(args, dir);
        EXPECT_EQ(run.status, 2) << args[3] << " " << run.err;
        EXPECT_NE(run.err.find("name the same file"), std::string::npos) << run.err;
    }
    EXPECT_EQ(fileNames(d),
              (std::set<std::string>{"b.json", "d1", "d2", "r1", "r2", "man.jsonl", "s.ini", "made.png", "hard.png"}));
    EXPECT_TRUE(fileNames(d / "d1").empty() && fileNames(d / "r2").empty());
    EXPECT_EQ(readBytes(d / "made.png"), made);
    EXPECT_EQ(readBytes(d / "s.ini"), "landcolor=3\n");
}

// Two outputs that would write one file are found before any work: exit 2, nothing written.
TEST(BatchGenerator, OutputsThatNameOneFileAreRefusedBeforeAnyWork) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "maps");
    writeBytes(dir.path() / "maps" / "a.png", "old");
    std::filesystem::create_symlink("maps/a.png", dir.path() / "link.json");
    const std::vector<std::vector<const char*>> clashes = {
        {"--seed", "1", "--out", "same.png", "--stats", "same.png"},
        {"--seed", "1", "--out", "maps/../x.png", "--grid", "x.png"},
        {"--seed", "1", "--out", "maps/a.png", "--stats", "link.json"},
        {"--seed", "2-3", "--out", "m.png", "--stats", "m-{seed}.png"},
        {"--seed", "7-9", "--out", "{seed}/../one.png"},
        {"--seed", "clock", "--out", "{seed}.png", "--stats", "{seed}.png"},
    };
    for (const auto& args : clashes) {
        BatchRun run = batchArgs(args, dir);
        EXPECT_EQ(run.status, 2) << args[3];
        EXPECT_NE(run.err.find("name the same file"), std::string::npos) << run.err;
    }
    EXPECT_EQ(fileNames(dir.path()), (std::set<std::string>{"maps", "link.json"}));
    EXPECT_EQ(readBytes(dir.path() / "maps" / "a.png"), "old");
}

// The batch's outputs follow the rule of every output: see SafeWrite's tests for its parts.
TEST(BatchGenerator, EachKindOfOutputIsWrittenByTheOneRule) {
    TempDir dir;
    const auto& d = dir.path();
    std::filesystem::create_directory(d / "maps");
    std::filesystem::create_symlink("maps/latest.json", d / "latest.json");
    writeBytes(d / "kept.png", "old");
    ::chmod((d / "kept.png").c_str(), 0640);
    FifoReader fifo(d / "pipe.npy");
    BatchRun run = batch(
        {"--seed", "4", "--size", "24x16", "--out", "kept.png", "--stats", "latest.json", "--grid", "pipe.npy"}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    writeBytes(d / "maps" / "piped.npy", fifo.take());
    EXPECT_TRUE(readNpy(d / "maps" / "piped.npy"));
    EXPECT_EQ(statsOf(d / "maps" / "latest.json")["width"], 24);
    EXPECT_TRUE(isKind(d / "latest.json", S_IFLNK) && isKind(d / "pipe.npy", S_IFIFO));
    struct stat info {};
    ::stat((d / "kept.png").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(decodePng(d / "kept.png")->width, 24u);

    ASSERT_TRUE(makeCharDevice(d / "null", 1, 3) && makeCharDevice(d / "full", 1, 7)) << "needs root";
    EXPECT_EQ(batch({"--seed", "4", "--size", "24x16", "--out", (d / "null").c_str()}, dir).status, 0);
    BatchRun full = batch({"--seed", "4", "--size", "24x16", "--stats", (d / "full").c_str()}, dir);
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("full: disk full"), std::string::npos) << full.err;
    std::filesystem::create_directory(d / "dir.png");
    BatchRun folder = batch({"--seed", "4", "--out", "dir.png"}, dir);
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("a directory has that name"), std::string::npos) << folder.err;
    EXPECT_TRUE(isKind(d / "null", S_IFCHR) && isKind(d / "full", S_IFCHR));
    EXPECT_EQ(fileNames(d),
              (std::set<std::string>{"maps", "latest.json", "kept.png", "pipe.npy", "null", "full", "dir.png"}));
}

TEST_F(BatchHostile, StandardOutputCarriesOneOutputAndTheClockSeedGoesToStderr) {
    ASSERT_EQ(runCommand(program + "--seed clock --size 30x20 --generations 3 --out - >map.png 2>err.txt"), 0);
    const auto png = decodePng(dir.path() / "map.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width, 30u);
    EXPECT_NE(readBytes(dir.path() / "err.txt").find("seed from the clock: "), std::string::npos);
    ASSERT_EQ(runCommand(program + "--seed 5-5 --size 30x20 --stats - >s.json"), 0);
    EXPECT_EQ(statsOf(dir.path() / "s.json")["seed"], 5);
    ASSERT_EQ(runCommand(program + "--seed 2-3 --size 8x8 --stats s-{seed}.json --manifest - >m.jsonl"), 0);
    EXPECT_EQ(manifestLines(dir.path() / "m.jsonl")[1]["statistics"], statsOf(dir.path() / "s-3.json"));
    EXPECT_EQ(fileNames(dir.path()),
              (std::set<std::string>{"map.png", "err.txt", "s.json", "m.jsonl", "s-2.json", "s-3.json"}));
}

// Three shards run side by side by GNU parallel, appending to one manifest, make the maps of the
// whole range exactly once: the same files, and one line for each map.
TEST_F(BatchHostile, ShardsRunByParallelMakeTheWholeRangeOnce) {
    ASSERT_EQ(runCommand("command -v parallel >/dev/null"), 0) << "tools/install-deps.sh --test installs GNU parallel";
    const std::string range = "--seed 3-22 --size 24x18 --generations 4 --quiet ";
    ASSERT_EQ(runCommand("cd '" + dir.path().string() + "' && mkdir all parts && '" ORVANDEL_BATCH_PATH "' " + range +
                         "--out 'all/{seed}.png' --stats 'all/{seed}.json' --manifest all.jsonl"),
              0);
    ASSERT_EQ(runCommand("cd '" + dir.path().string() + "' && parallel --will-cite -j 3 \"'" ORVANDEL_BATCH_PATH "' " +
                         range +
                         "--out parts/{seed}.png --stats parts/{seed}.json --manifest parts.jsonl --shard {}/3\" "
                         "::: 1 2 3"),
              0);
    EXPECT_TRUE(filesUnder(dir.path() / "all") == filesUnder(dir.path() / "parts"));
    EXPECT_EQ(filesUnder(dir.path() / "parts").size(), 40u);
    std::multiset<std::string> whole, shards;
    std::set<int> seeds;
    for (const nlohmann::json& line : manifestLines(dir.path() / "all.jsonl"))
        whole.insert(replaceAll(line.dump(), "all/", "parts/"));
    for (const nlohmann::json& line : manifestLines(dir.path() / "parts.jsonl")) {
        shards.insert(line.dump());
        seeds.insert(line["seed"].get<int>());
    }
    EXPECT_EQ(shards, whole);
    EXPECT_EQ(seeds.size(), 20u);  // no map made twice
}

// A range ended by a signal leaves whole files only: each file its manifest names, and no
// temporary file.
TEST_F(BatchHostile, AnInterruptedRangeLeavesWholeFilesAndNoTemporaryFile) {
    std::filesystem::create_directory(dir.path() / "maps");
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ::chdir(dir.path().c_str());
        ::execl(ORVANDEL_BATCH_PATH, ORVANDEL_BATCH_PATH, "--seed", "1-100000", "--size", "120x90", "--generations",
                "20", "--out", "maps/{seed}.png", "--manifest", "m.jsonl", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait for the first maps to be told of.
    int status = 0;
    while (readBytes(dir.path() / "m.jsonl").empty() && ::waitpid(child, &status, WNOHANG) == 0) ::usleep(1000);
    ::kill(child, SIGTERM);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    const std::vector<nlohmann::json> lines = manifestLines(dir.path() / "m.jsonl");
    ASSERT_FALSE(lines.empty());
    for (const nlohmann::json& line : lines)
        EXPECT_TRUE(std::filesystem::exists(dir.path() / line["files"]["png"].get<std::string>())) << line.dump();
    for (const std::string& name : fileNames(dir.path() / "maps")) {
        EXPECT_FALSE(name.ends_with(".tmp")) << name;
        EXPECT_TRUE(decodePng(dir.path() / "maps" / name)) << name;
    }
}

// A file-size limit: the write fails with the reason instead of the program dying silently,
// and the old file stays.
TEST_F(BatchHostile, AFileSizeLimitFailsTheWriteWithTheReason) {
    writeBytes(dir.path() / "big.png", "old");
    EXPECT_EQ(
        runCommand("ulimit -f 20 && " + program + "--seed 3 --size 1000x1000 --generations 2 --out big.png 2>err.txt"),
        1);
    EXPECT_EQ(readBytes(dir.path() / "err.txt"), "orvandel-batch: cannot write big.png: file too large\n");
    EXPECT_EQ(readBytes(dir.path() / "big.png"), "old");
    EXPECT_EQ(fileNames(dir.path()), (std::set<std::string>{"big.png", "err.txt"}));
}

// Memory runs out at one point or another as the limit rises: each time one clear message,
// exit 1, and no temporary file (it used to abort with an uncaught std::bad_alloc).
TEST_F(BatchHostile, RunningOutOfMemoryIsToldAndLeavesNothing) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than any such limit leaves";
#endif
    int failed = 0, succeeded = 0;
    for (int limit = 8000; limit <= 72000; limit += 8000) {
        const int status = runCommand("ulimit -v " + std::to_string(limit) + " && " + program +
                                      "--seed 3 --size 4096x1024 --generations 1 --out m.png --stats m.json "
                                      "--grid m.npy 2>err.txt");
        const std::string err = readBytes(dir.path() / "err.txt");
        if (status == 1) {
            EXPECT_EQ(err, "orvandel-batch: out of memory\n") << limit;
            ++failed;
        } else {
            EXPECT_EQ(status, 0) << limit << ": " << err;
            ++succeeded;
        }
        for (const std::string& name : fileNames(dir.path())) EXPECT_FALSE(name.ends_with(".tmp")) << name;
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(succeeded, 0);
}

// A signal while a large PNG is written: the temporary file goes, the old file stays, and the
// status is the signal's.
TEST_F(BatchHostile, ASignalDuringAWriteRemovesTheTemporaryFile) {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        writeBytes(dir.path() / "map.png", "old");
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            ::chdir(dir.path().c_str());
            ::execl(ORVANDEL_BATCH_PATH, ORVANDEL_BATCH_PATH, "--seed", "3", "--size", "8192x4096", "--generations",
                    "1", "--out", "map.png", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Wait for the temporary file: the picture is being written.
        bool writing = false;
        int status = 0;
        while (!writing && ::waitpid(child, &status, WNOHANG) == 0) {
            for (const std::string& name : fileNames(dir.path())) writing = writing || name.ends_with(".tmp");
            if (!writing) ::usleep(1000);
        }
        ASSERT_TRUE(writing) << "the program ended before it wrote";
        ::kill(child, signalNumber);
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << signalNumber;
        EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"map.png"});
        EXPECT_EQ(readBytes(dir.path() / "map.png"), "old");
    }
}

// Closed standard descriptors are never handed to output files: with stdout closed, "-" is an
// error and the PNG stays a PNG; with stderr closed, nothing but JSON lines reaches the manifest.
// Two clock seeds in one second differ. The headless runner's screen files may not meet.
TEST_F(BatchHostile, ClosedDescriptorsClockSeedsAndMeetingScreenFiles) {
    EXPECT_EQ(runCommand(program + "--seed 1 --size 8x8 --stats - --out o.png >&- 2>err.txt"), 1);
    EXPECT_TRUE(decodePng(dir.path() / "o.png"));
    EXPECT_NE(readBytes(dir.path() / "err.txt").find("cannot write to standard output: not open for writing"),
              std::string::npos);
    EXPECT_EQ(runCommand(program + "--seed 1-2 --size 8x8 --stats /nonexistent/s.json --manifest m.jsonl 2>&-"), 1);
    EXPECT_EQ(readBytes(dir.path() / "m.jsonl"), "");
    ASSERT_EQ(runCommand(program + "--seed clock --size 8x8 --stats a.json && " + program +
                         "--seed clock --size 8x8 --stats b.json"),
              0);
    EXPECT_NE(statsOf(dir.path() / "a.json")["seed"], statsOf(dir.path() / "b.json")["seed"]);
    const std::string headless = "cd '" + dir.path().string() + "' && '" ORVANDEL_HEADLESS_PATH "' ";
    writeBytes(dir.path() / "keys.txt", "key Down\nkey Down\nkey Enter\n");
    EXPECT_EQ(runCommand(headless + "--script keys.txt --screen-png s --screen-text s 2>err.txt"), 2);
    EXPECT_EQ(runCommand(headless + "--script keys.txt --screen-text keys.txt 2>err.txt"), 2);
    EXPECT_NE(readBytes(dir.path() / "err.txt").find("name the same file"), std::string::npos);
    EXPECT_EQ(readBytes(dir.path() / "keys.txt"), "key Down\nkey Down\nkey Enter\n");
}

// A settings file that is a FIFO (or a device) is refused at once, not waited on for ever.
TEST_F(BatchHostile, ASettingsFileThatIsNoRegularFileIsRefused) {
    ASSERT_EQ(::mkfifo((dir.path() / "fifo.ini").c_str(), 0644), 0);
    EXPECT_EQ(runCommand(program + "--settings fifo.ini --seed 1 --out a.png 2>err.txt"), 1);
    EXPECT_EQ(readBytes(dir.path() / "err.txt"),
              "orvandel-batch: cannot read the settings file fifo.ini: Not a regular file\n");
}

// The help tells every option of the table, --version and the exit statuses; the README's
// table of options lists exactly the options the program has.
TEST_F(BatchHostile, HelpAndReadmeListTheOptionsOfTheTable) {
    ASSERT_EQ(runCommand(program + "--help >help.txt"), 0);
    const std::string help = readBytes(dir.path() / "help.txt");
    // Every program's help fits a terminal of 80 columns.
    for (const char* other : {ORVANDEL_HEADLESS_PATH, ORVANDEL_BATCH_PATH}) {
        ASSERT_EQ(
            runCommand(
                std::string("'").append(other).append("' --help >'").append(dir.path() / "other.txt").append("'")),
            0);
        std::istringstream lines(readBytes(dir.path() / "other.txt"));
        ASSERT_GT(lines.str().size(), 200u) << other;
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << other << ": " << line;
    }
    std::set<std::string> options;
    for (const BatchOption& option : batchOptionTable()) {
        options.insert(std::string(option.name));
        EXPECT_NE(help.find("  " + std::string(option.name)), std::string::npos) << option.name;
        if (option.alias.starts_with("--")) options.insert(std::string(option.alias));
    }
    EXPECT_NE(help.find("Exit status: 0"), std::string::npos);
    EXPECT_NE(help.find("--until-stable"), std::string::npos);

    const std::string readme = readBytes(std::filesystem::path(ORVANDEL_SOURCE_DIR) / "README.md");
    const std::size_t table = readme.find("| Option | Meaning |");
    ASSERT_NE(table, std::string::npos);
    std::set<std::string> listed;
    std::istringstream rows(readme.substr(table));
    std::string line;
    std::getline(rows, line);
    while (std::getline(rows, line) && line.starts_with("|")) {
        const std::string first = line.substr(1, line.find('|', 1) - 1);
        // Every "--" and the lower-case letters and dashes after it, a letter first.
        for (std::size_t at = first.find("--"); at != std::string::npos; at = first.find("--", at + 2)) {
            std::size_t end = at + 2;
            while (end < first.size() &&
                   ((first[end] >= 'a' && first[end] <= 'z') || (end > at + 2 && first[end] == '-')))
                ++end;
            if (end > at + 2) listed.insert(first.substr(at, end - at));
        }
    }
    EXPECT_EQ(listed, options);
}

}  // namespace
}  // namespace orv::test

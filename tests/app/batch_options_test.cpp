// The batch generator's command line: what it reads and what it refuses, before any work.
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

std::optional<BatchOptions> parse(std::initializer_list<const char*> args, std::string* error = nullptr) {
    std::string e;
    auto o = parseBatchArguments(std::vector<std::string>(args.begin(), args.end()), e);
    if (error) *error = e;
    return o;
}

TEST(BatchArguments, RefuseMistakesWithOneLineSayingWhat) {
    struct Case {
        std::initializer_list<const char*> args;
        const char* says;
    } cases[] = {
        {{"--out", "a.png"}, "--seed is required"},
        {{"--seed", "7"}, "nothing to write"},
        {{"--seed", "abc", "--out", "a.png"}, "--seed abc"},
        {{"--seed", "42abc", "--out", "a.png"}, "--seed 42abc"},
        {{"--seed", "9-3", "--out", "a.png"}, "--seed 9-3"},
        {{"--seed", "1-2000000", "--out", "a.png"}, "at most"},
        {{"--seed", "1", "--size", "0x5", "--out", "a.png"}, "--size 0x5"},
        {{"--seed", "1", "--size", "400", "--out", "a.png"}, "--size 400"},
        {{"--seed", "1", "--size", "65537x2", "--out", "a.png"}, "--size 65537x2"},
        {{"--seed", "1", "--size", "4x-1", "--out", "a.png"}, "--size 4x-1"},
        {{"--seed", "1", "--generations", "-1", "--out", "a.png"}, "--generations -1"},
        {{"--seed", "1", "--generations", "ten", "--out", "a.png"}, "--generations ten"},
        {{"--seed", "1", "--out"}, "--out needs a value"},
        {{"--seed", "1", "--out", "a.png", "--colour"}, "unknown option --colour"},
        {{"--seed", "3-1", "--out", "a.png"}, "--seed 3-1: the first seed is above the last"},
        {{"--seed", "1-99999999999", "--out", "a.png"}, "99999999999 is beyond the seeds"},
        {{"--seed", "1-2x", "--out", "a.png"}, "a range is two whole numbers"},
        {{"--seed", "-3-4", "--out", "a.png"}, "cannot hold 0 or -1"},
        {{"--seed", "0-1400", "--out", "a.png"}, "cannot hold 0 or -1"},
        {{"--seed", "-5--1", "--out", "a.png"}, "cannot hold 0 or -1"},
        {{"--seed", "-1", "--out", "a.png"}, "--seed clock"},
        {{"--seed", "-1.2", "--out", "a.png"}, "--seed clock"},
        {{"--seed", "99999999999", "--out", "a.png"}, "beyond the seeds"},
        {{"--seed", "1", "--out", ""}, "--out: the file name is empty"},
        {{"--seed", "1", "--stats="}, "--stats: the file name is empty"},
        {{"--seed", "1", "--out", "a.png", "--until-stable=no"}, "--until-stable takes no value"},
        {{"--seed", "1", "--out", "a.png", "--progress=never"}, "--progress takes no value"},
        {{"--seed", "1", "--out", "a.png", "--quiet=x"}, "--quiet takes no value"},
        {{"--seed", "1", "--seed", "2", "--out", "a.png"}, "--seed is given twice"},
        {{"--seed", "1", "--out", "a.png", "--out=b.png"}, "--out is given twice"},
        {{"--seed", "1", "--out", "a.png", "--progress", "--quiet"}, "--quiet cannot go with --progress"},
        {{"--seed", "1", "--out", "a.png", "--until-settled", "--until-stable"}, "cannot go with --until-settled"},
        {{"--seed", "1", "--out", "a.png", "--set", "colour=3"}, "--set colour: no such setting"},
        {{"--seed", "1", "--out", "a.png", "--set", "landcolor"}, "expected KEY=VALUE"},
        {{"--from", "m.png", "--seed", "1", "--out", "a.png"}, "--from takes the seed"},
        {{"--seed", "1", "--out", "-", "--stats", "-"}, "only one output"},
        {{"--seed", "1-3", "--grid", "-"}, "standard output (-) takes the outputs of one map"},
        {{"--seed", "1", "a.png"}, "unexpected argument 'a.png'"},
        {{"--seed", "1-9", "--out", "a.png", "--shard", "0/3"}, "--shard 0/3: expected K/N"},
        {{"--seed", "1-9", "--out", "a.png", "--shard", "4/3"}, "--shard 4/3"},
        {{"--seed", "1-9", "--out", "a.png", "--shard", "1/0"}, "--shard 1/0"},
        {{"--seed", "1-9", "--out", "a.png", "--shard", "-1/-3"}, "--shard -1/-3"},
        {{"--seed", "1-9", "--out", "a.png", "--shard", "2"}, "--shard 2"},
        {{"--seed", "clock", "--out", "a.png", "--shard", "1/2"}, "--shard parts a seed range"},
        {{"--from", "m.png", "--out", "a.png", "--shard", "1/2"}, "--shard parts a seed range"},
        {{"--seed", "1-9", "--out", "a.png", "--jobs", "65"}, "--jobs 65"},
        {{"--seed", "1-9", "--out", "a.png", "--jobs", "-2"}, "--jobs -2"},
        {{"--seed", "1", "--out", "-", "--manifest", "-"}, "only one output"},
        {{"--seed", "1", "--out", "a.png", "--manifest", ""}, "--manifest: the file name is empty"},
        {{"--from", "m.png", "--out", "a.png", "--until-settled"}, "--from takes the seed"},
        {{"--seed", "1", "--out", "a.png", "--set", "landcolor=5,colour=2"}, "--set colour: no such setting"},
        {{"--seed", "1", "--out", "a.png", "--set", "continents=lots"}, "holds no number"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(parse(c.args, &error).has_value()) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(BatchArguments, ReadSeedsSizesAndSwitches) {
    auto o = parse({"--seed=2.5", "--size", "640x480", "--generations", "0", "--until-stable", "--out", "m.png",
                    "--stats=s.json", "--quiet"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, 2);  // the seed prompt's rule: halves go to the even neighbour
    EXPECT_EQ(o->lastSeed, 2);
    EXPECT_EQ(*o->width, 640);
    EXPECT_EQ(*o->height, 480);
    EXPECT_EQ(o->generations, 0);
    EXPECT_TRUE(o->untilSettled);
    EXPECT_EQ(o->progress, BatchOptions::Progress::Never);

    o = parse({"--seed", "-9--3", "--stats", "s.json"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, -9);
    EXPECT_EQ(o->lastSeed, -3);
    o = parse({"--seed", "+1-+3", "--stats", "s.json", "--set", "landcolor=4", "--set=XSIZE = 20", "--until-stable"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, 1);
    EXPECT_EQ(o->lastSeed, 3);
    EXPECT_EQ(o->sets, (std::vector<std::string>{"landcolor=4", "XSIZE = 20"}));
    EXPECT_TRUE(o->untilSettled);                 // --until-stable is the same option
    o = parse({"--seed", "5-5", "--grid", "-"});  // a range of one seed is one map
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, 5);
    EXPECT_EQ(o->lastSeed, 5);
    o = parse({"--seed", "0", "--out", "-"});
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->seedFromClock);
    o = parse({"--seed", "&hFF", "--out", "m.png"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, 255);
    o = parse({"--seed", "clock", "--out", "m.png"});
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->seedFromClock);
    // --set takes a settings file's line: several items, a quoted one.
    o = parse({"--seed", "1", "--stats", "s.json", "--set", "landcolor=5,watercolor=7", "--set", "\"landcolor=5,6\""});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->sets, (std::vector<std::string>{"landcolor=5,watercolor=7", "\"landcolor=5,6\""}));
    ASSERT_TRUE(parse({"--seed", "1-9", "--stats", "s.json", "--jobs", "64"}));
    o = parse({"--seed", "1-9", "--stats", "s.json", "--shard", "2/3", "--jobs", "5", "--manifest", "-"});
    ASSERT_TRUE(o);
    EXPECT_EQ(std::pair(o->shardIndex, o->shardCount), std::pair(2, 3));
    EXPECT_EQ(o->jobs, 5);
    EXPECT_EQ(o->manifest, "-");
    EXPECT_TRUE(parse({"--help"})->help);
    EXPECT_TRUE(parse({"--version"})->version);
}

TEST(BatchArguments, OutputNamesCarryTheSeedWhenThereAreSeveral) {
    EXPECT_EQ(outputName("map.png", 7, false), "map.png");
    EXPECT_EQ(outputName("map.png", 7, true), "map-7.png");
    EXPECT_EQ(outputName("out/map", -2, true), "out/map--2");
    EXPECT_EQ(outputName("out.d/map", 3, true), "out.d/map-3");
    EXPECT_EQ(outputName(".png", 3, true), "-3.png");  // the seed goes before the last dot of the name
    EXPECT_EQ(outputName("maps/.json", 3, true), "maps/-3.json");
    EXPECT_EQ(outputName("-", 3, false), "-");
    EXPECT_EQ(outputName("w{seed}/m-{seed}.png", 12, false), "w12/m-12.png");
}

}  // namespace
}  // namespace orv::test

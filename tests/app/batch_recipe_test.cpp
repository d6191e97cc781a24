// Recipes: a PNG's recipe makes the same map again; damaged and hostile recipes are told apart.
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

// Every batch PNG carries its recipe; --from makes the same map again from it alone: the same
// pixels and the same statistics, for the presets, settings with flows, and clock seeds (one
// that reads 0 included, which no --seed can give).
TEST(BatchGenerator, TheRecipeInThePngMakesTheSameMapAgain) {
    TempDir dir;
    writeBytes(dir.path() / "flows.ini",
               "xsize=61\nysize=45\nleftrightflow=50\nupflowenabled=1\nupflowratio=30\n"
               "downupflow=70\nerosion=1\nlandcolor=14\n");
    struct Case {
        std::vector<const char*> args;
        double clock;
    } cases[] = {
        {{"--seed", "42", "--generations", "30"}, 9.0},
        {{"--settings", "flows.ini", "--seed", "-12", "--generations", "15"}, 9.0},
        {{"--seed", "8", "--size", "64x48", "--set", "continents=3", "--set", "seacolor=4"}, 9.0},
        {{"--seed", "clock", "--size", "40x30", "--generations", "5", "--until-settled"}, 1234.9},
        {{"--seed", "0", "--size", "33x20", "--generations", "200", "--until-settled"}, 0.5},
    };
    for (const Case& c : cases) {
        std::vector<const char*> args = c.args;
        args.insert(args.end(), {"--out", "a.png", "--stats", "a.json"});
        BatchRun first = batchArgs(args, dir, c.clock);
        ASSERT_EQ(first.status, 0) << first.err;
        BatchRun again = batch({"--from", "a.png", "--out", "b.png", "--stats", "b.json"}, dir, 77.0);
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(again.out, "");  // no clock was read
        EXPECT_EQ(readBytes(dir.path() / "b.json"), readBytes(dir.path() / "a.json")) << c.args[1];
        const auto a = decodePng(dir.path() / "a.png"), b = decodePng(dir.path() / "b.png");
        ASSERT_TRUE(a && b);
        EXPECT_TRUE(a->pixels == b->pixels) << c.args[1];
        EXPECT_EQ(a->texts, b->texts);  // the remade map tells the same recipe
        ASSERT_FALSE(a->texts.empty());
        EXPECT_EQ(a->texts[0].first, "Software");
    }
    // libpng reads the recipe as text chunks; the settings are a settings file's lines.
    const auto png = decodePng(dir.path() / "a.png");
    const auto settings = std::find_if(png->texts.begin(), png->texts.end(),
                                       [](const auto& t) { return t.first == "Orvandel settings"; });
    ASSERT_NE(settings, png->texts.end());
    EXPECT_NE(settings->second.find("\nxsize=33\nysize=20\n"), std::string::npos) << settings->second;
    EXPECT_NE(std::find(png->texts.begin(), png->texts.end(),
                        std::pair<std::string, std::string>{"Orvandel seed source", "clock"}),
              png->texts.end());

    // A recipe made before the world's keys existed lacks them: they keep their presets.
    Recipe old;
    applyPresets(old.settings);
    old.settings.landcolor = 3;
    TextChunks texts = recipeTexts(old);
    std::string& lines = texts.back().second;
    lines.erase(lines.find("continents="));
    std::string why;
    const std::optional<Recipe> read = recipeFromTexts(texts, why);
    ASSERT_TRUE(read) << why;
    EXPECT_EQ(read->settings, old.settings);

    // Worlds of 1.x came from another pyramid: their recipes are refused, naming both versions;
    // a classic map of 1.x is made again, with the warning of another major version.
    for (const std::int32_t continents : {3, 0}) {
        Recipe made;
        made.program = "orvandel-batch 1.1.0";
        applyPresets(made.settings);
        made.settings.xsize = 24;
        made.settings.ysize = 16;
        made.settings.continents = continents;
        made.seed = 4;
        made.generations = 2;
        MapPicture picture;
        MapRequest request;
        request.settings = made.settings;
        generateMap(request, picture);
        ASSERT_FALSE(writeMapPng(dir.path() / "old.png", picture, recipeTexts(made)));
        BatchRun remade = batch({"--from", "old.png", "--out", "new.png"}, dir);
        if (continents > 0) {
            EXPECT_EQ(remade.status, 1);
            for (const char* told : {"old.png again: it was made by orvandel-batch 1.1.0, whose worlds this version (",
                                     ") makes differently; classic maps (continents=0) it still makes"})
                EXPECT_NE(remade.err.find(told), std::string::npos) << remade.err;
            EXPECT_FALSE(std::filesystem::exists(dir.path() / "new.png"));
        } else {
            EXPECT_EQ(remade.status, 0) << remade.err;
            EXPECT_NE(remade.err.find("whose maps may differ"), std::string::npos) << remade.err;
        }
    }

    // A PNG without a recipe, and a file that is no PNG, are refused with the reason.
    ImageBuffer image = noisyImage(4, 4, 16);
    ASSERT_FALSE(writePngFile(dir.path() / "plain.png", &image));
    BatchRun plain = batch({"--from", "plain.png", "--out", "c.png"}, dir);
    EXPECT_EQ(plain.status, 1);
    EXPECT_NE(plain.err.find("holds no recipe"), std::string::npos) << plain.err;
    writeBytes(dir.path() / "text.png", "not a picture");
    BatchRun text = batch({"--from", "text.png", "--out", "c.png"}, dir);
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.err.find("not a PNG file"), std::string::npos) << text.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "c.png"));
}

// What a recipe may not be: a part missing or twice, a value no program writes, a key unknown
// (from this major version; from another it is left out with a warning).
TEST(BatchGenerator, DamagedRecipesAreToldApart) {
    Recipe made;
    applyPresets(made.settings);
    made.program = "orvandel-batch " + orvandel::version();
    auto read = [](const TextChunks& texts, std::vector<std::string>* warnings = nullptr) {
        std::string why;
        const std::optional<Recipe> r = recipeFromTexts(texts, why, warnings);
        return r ? std::string() : why;
    };
    auto with = [&](const std::string& keyword, const std::string& text) {
        TextChunks texts = recipeTexts(made);
        for (auto& [k, t] : texts)
            if (k == keyword) t = text;
        return texts;
    };
    EXPECT_EQ(read(recipeTexts(made)), "");
    EXPECT_NE(read(with("Orvandel size", "100000x2")).find("the size '100000x2'"), std::string::npos);
    EXPECT_NE(read(with("Orvandel size", "2147483647x1")).find("damaged"), std::string::npos);
    EXPECT_NE(read(with("Orvandel generations", "-1")).find("the generations '-1'"), std::string::npos);
    std::string settings = recipeTexts(made).back().second;
    EXPECT_NE(read(with("Orvandel settings", settings + "continents=99\n")).find("given twice"), std::string::npos);
    settings.replace(settings.find("landshare=40"), 12, "landshare=400");
    EXPECT_NE(read(with("Orvandel settings", settings)).find("landshare=400 (its range: 1 .. 99)"), std::string::npos);
    TextChunks twice = recipeTexts(made);
    twice.push_back(twice[1]);
    EXPECT_NE(read(twice).find("'Orvandel seed' is given twice"), std::string::npos);
    const std::string unknown = recipeTexts(made).back().second + "riverdepth=3\n";
    EXPECT_NE(read(with("Orvandel settings", unknown)).find("the settings line 'riverdepth=3'"), std::string::npos);
    std::vector<std::string> warnings;
    TextChunks other = with("Orvandel settings", unknown);
    other[0].second = "orvandel-batch 99.0.0";
    EXPECT_EQ(read(other, &warnings), "");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("'riverdepth=3' is unknown to version"), std::string::npos);
}

// --from reads a regular file only, and only so much text: a FIFO is refused at once; a keyword
// of no length is damage; Latin-1 text comes out as UTF-8; texts inflating past any recipe (a
// small file that would take gigabytes) are refused before they are held.
TEST_F(BatchHostileRecipes, FromReadsRegularFilesAndRecipesOfRecipeSize) {
    ImageBuffer image = noisyImage(4, 4, 16);
    const std::string png = [&] {
        const std::vector<std::uint8_t> bytes = encodePng(image);
        return std::string(bytes.begin(), bytes.end());
    }();
    TextChunks texts;
    writeBytes(dir.path() / "latin.png", withChunks(png, {{"tEXt", std::string("Software\0caf\xe9", 13)}}));
    ASSERT_FALSE(readPngTexts(dir.path() / "latin.png", texts));
    EXPECT_EQ(texts, (TextChunks{{"Software", "caf\xc3\xa9"}}));
    writeBytes(dir.path() / "empty.png", withChunks(png, {{"tEXt", std::string("\0text", 5)}}));
    EXPECT_EQ(readPngTexts(dir.path() / "empty.png", texts), PngReadError::damaged);
    // Sixty chunks of 16 MiB each once inflated.
    const std::string bomb = std::string("Orvandel settings\0\1\0\0\0", 22) + deflated(std::string(16 << 20, 'a'));
    writeBytes(dir.path() / "bomb.png",
               withChunks(png, std::vector(60, std::pair<std::string, std::string>("iTXt", bomb))));
    EXPECT_EQ(readPngTexts(dir.path() / "bomb.png", texts, recipeKeyword), PngReadError::textsTooLarge);
    ASSERT_EQ(::mkfifo((dir.path() / "fifo.png").c_str(), 0644), 0);
    EXPECT_EQ(runCommand(program + "--from fifo.png --out a.png 2>err.txt"), 1);
    EXPECT_EQ(readBytes(dir.path() / "err.txt"), "orvandel-batch: cannot read fifo.png: not a regular file\n");
    EXPECT_EQ(runCommand(program + "--from bomb.png --out a.png 2>err.txt"), 1);
    EXPECT_NE(readBytes(dir.path() / "err.txt").find("larger than any recipe"), std::string::npos);
}

}  // namespace
}  // namespace orv::test

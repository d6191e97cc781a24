#include "settings/Settings.hpp"

#include <algorithm>

namespace orv {

void applyPresets(Settings& s) {
    s.landcolor = 6;
    s.watercolor = 1;
    s.forestcolor = 2;
    s.oceanedgesizex = 0;
    s.oceanedgesizey = 0;
    s.wround = 1;
    s.landwaterratio = 6;
    s.landmasssize = 4;
    s.beachshow = 2;
    s.erosion = 0;
    s.randerosionvar1 = 3;
    s.randerosionvar2 = 2;
    s.erosionseed = 0;
    s.random1 = 1;
    s.randratio = 0;
    s.seed = 0;
    s.speed = 0;
    s.downupflow = 100;
    s.downflowenabled = 1;
    s.upflowenabled = 0;
    s.upflowratio = 0;
    s.leftrightflow = 0;
    s.leftflowenabled = 1;
    s.rightflowenabled = 1;
    s.rightflowratio = 0;
    s.continents = 0;
    s.landshare = 40;
    s.coastroughness = 50;
    s.islands = 30;
    s.seacolor = -1;
}

const std::array<SettingsKey, 32> kSettingsKeys{{
    {"landcolor", &Settings::landcolor},
    {"watercolor", &Settings::watercolor},
    {"forestcolor", &Settings::forestcolor},
    {"xsize", &Settings::xsize},
    {"ysize", &Settings::ysize},
    {"oceanedgesizex", &Settings::oceanedgesizex},
    {"oceanedgesizey", &Settings::oceanedgesizey},
    {"wround", &Settings::wround},
    {"landwaterratio", &Settings::landwaterratio},
    {"landmasssize", &Settings::landmasssize},
    {"beachshow", &Settings::beachshow},
    {"erosion", &Settings::erosion},
    {"randerosionvar1", &Settings::randerosionvar1},
    {"randerosionvar2", &Settings::randerosionvar2},
    {"erosionseed", &Settings::erosionseed},
    {"random1", &Settings::random1},
    {"randratio", &Settings::randratio},
    {"seed", &Settings::seed},
    {"speed", &Settings::speed},
    {"downupflow", &Settings::downupflow},
    {"downflowenabled", &Settings::downflowenabled},
    {"upflowenabled", &Settings::upflowenabled},
    {"upflowratio", &Settings::upflowratio},
    {"leftrightflow", &Settings::leftrightflow},
    {"leftflowenabled", &Settings::leftflowenabled},
    {"rightflowenabled", &Settings::rightflowenabled},
    {"rightflowratio", &Settings::rightflowratio},
    {"continents", &Settings::continents},
    {"landshare", &Settings::landshare},
    {"coastroughness", &Settings::coastroughness},
    {"islands", &Settings::islands},
    {"seacolor", &Settings::seacolor},
}};

std::string clampedMessage(const ClampedSetting& change) {
    return std::string(change.key) + " " + std::to_string(change.from) + " is out of range; using " +
           std::to_string(change.to);
}

std::vector<ClampedSetting> clampToGrid(Settings& s, std::int32_t maxWidth, std::int32_t maxHeight) {
    std::vector<ClampedSetting> changes;
    auto keep = [&changes](std::string_view key, std::int32_t& field, std::int32_t low, std::int32_t high) {
        const std::int32_t fitted = std::clamp(field, low, std::max(low, high));
        if (fitted == field) return;
        changes.push_back({key, field, fitted});
        field = fitted;
    };
    keep("xsize", s.xsize, 1, maxWidth);
    keep("ysize", s.ysize, 1, maxHeight);
    keep("oceanedgesizex", s.oceanedgesizex, 0, INT32_MAX);
    keep("oceanedgesizey", s.oceanedgesizey, 0, INT32_MAX);
    keep("continents", s.continents, 0, 16);
    keep("landshare", s.landshare, 1, 99);
    keep("coastroughness", s.coastroughness, 0, 100);
    keep("islands", s.islands, 0, 100);
    return changes;
}

}  // namespace orv

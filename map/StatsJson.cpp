#include "map/StatsJson.hpp"

#include <sstream>

#include "settings/NumberText.hpp"

namespace orv {

std::string statsJson(const MapResult& r) {
    return statsJson(r, {});
}

std::string statsJson(const MapResult& r, const std::string& terrain) {
    const std::int64_t total = static_cast<std::int64_t>(r.settings.xsize) * r.settings.ysize;
    // The share as the report computes it, in the shortest text that reads back as the same double.
    auto share = [total](std::int64_t count) {
        return shortestText(static_cast<double>(count * 100) / static_cast<double>(total));
    };
    auto flag = [](bool on) { return on ? "true" : "false"; };
    std::ostringstream json;
    json << "{\n";
    json << "  \"seed\": " << r.seed << ",\n";
    json << "  \"seedUsed\": " << flag(r.seedUsed) << ",\n";
    json << "  \"width\": " << r.settings.xsize << ",\n";
    json << "  \"height\": " << r.settings.ysize << ",\n";
    json << "  \"settings\": {";
    for (std::size_t i = 0; i < kSettingsKeys.size(); ++i)
        json << (i ? ", " : "") << "\"" << kSettingsKeys[i].name << "\": " << r.settings.*kSettingsKeys[i].field;
    json << "},\n";
    json << "  \"generations\": " << r.committedGenerations << ",\n";
    json << "  \"cycles\": " << r.cycles << ",\n";
    json << "  \"stable\": " << flag(r.stable) << ",\n";
    json << "  \"settled\": " << flag(r.settled) << ",\n";
    json << "  \"settledAt\": ";
    if (r.settledAt)
        json << *r.settledAt;
    else
        json << "null";
    json << ",\n";
    json << "  \"cells\": " << total << ",\n";
    json << "  \"water\": {\"color\": " << r.settings.watercolor << ", \"cells\": " << r.waterCount
         << ", \"percent\": " << share(r.waterCount) << "},\n";
    json << "  \"land\": {\"color\": " << r.settings.landcolor << ", \"cells\": " << r.landCount
         << ", \"percent\": " << share(r.landCount) << "},\n";
    json << "  \"unchanged\": {\"color\": " << r.settings.forestcolor << ", \"cells\": " << r.unchangedCount
         << ", \"percent\": " << share(total - r.waterCount - r.landCount - r.seaCount) << "},\n";
    json << "  \"sea\": {\"color\": " << seaColorIndex(r.settings) << ", \"cells\": " << r.seaCount
         << ", \"percent\": " << share(r.seaCount) << "}";
    if (r.world) {
        json << ",\n  \"landMasses\": {\"count\": " << r.landMasses.size() << ", \"cells\": [";
        for (std::size_t i = 0; i < r.landMasses.size(); ++i) json << (i ? ", " : "") << r.landMasses[i];
        json << "]}";
    }
    if (!terrain.empty()) json << ",\n  \"terrain\": " << terrain;
    json << "\n}\n";
    return json.str();
}

}  // namespace orv

#include "map/MadeMap.hpp"

namespace orv {

void makeMap(MadeMap& into, const MapRequest& request, const std::string& maker, const RunHooks& hooks) {
    into.result = generateMap(request, into.picture, hooks.clock ? hooks.clock : clockSeconds, hooks.progress);
    into.recipe = recipeOf(maker, request.settings, into.result);
}

}  // namespace orv

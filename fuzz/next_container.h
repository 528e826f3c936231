// A fuzz input holds one container, or two that one run cuts together: the
// second follows this mark.
#pragma once

#include <string_view>

namespace d88fuzz {

inline constexpr std::string_view kNextContainer = "\n=== the next container of the run ===\n";

}  // namespace d88fuzz

// Suggests the known name closest to a mistyped one ("did you mean ...?"), for record field
// names and preset names alike.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace vorlund {

// Levenshtein distance over ASCII-lowercased characters: a difference in case costs nothing.
std::size_t editDistance(std::string_view a, std::string_view b);

// Equality over ASCII-lowercased characters.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The candidate nearest to `name` (the first of equally near ones); empty when there are none.
std::string nearestName(std::string_view name, std::span<const std::string> candidates);

}  // namespace vorlund

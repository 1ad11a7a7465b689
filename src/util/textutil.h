// SPDX-License-Identifier: MIT
// Small text helpers shared across the program.
#pragma once

#include <string_view>

namespace util {

// s without the blanks and tabs around it.
constexpr std::string_view Trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

} // namespace util

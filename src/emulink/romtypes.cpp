// SPDX-License-Identifier: MIT
// Looking up a ROM type by name.
#include "emulink/romtypes.h"

#include <cctype>

std::optional<int> FindRomType(std::string_view text)
{
    if (text.size() == 1 && text[0] >= '0' && text[0] < '0' + kRomTypeCount)
        return text[0] - '0';
    auto same = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    };
    // The list's entries carry the size as well: "27C256(32K*8)".
    if (const auto paren = text.find('('); paren != std::string_view::npos)
        text = text.substr(0, paren);
    for (int k = 0; k < kRomTypeCount; ++k)
        if (same(text, kRomTypes[static_cast<std::size_t>(k)].name))
            return k;
    return std::nullopt;
}

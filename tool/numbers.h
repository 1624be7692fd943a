// Numbers from the command line, read exactly: every option that takes a
// number goes through here, so all refuse the same things the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace tool {

// A whole decimal number from `low` to `high`. Nothing else is accepted: no
// sign, no spaces, no trailing characters, nothing past `high` (overflow
// included).
std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t low, std::uint64_t high);

// "WxH" (or "WXH"), each a number from 1 to `high`.
std::optional<std::pair<std::uint64_t, std::uint64_t>> parse_dimensions(std::string_view text, std::uint64_t high);

} // namespace tool

#include "numbers.h"

#include <charconv>

namespace tool {

std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t low, std::uint64_t high)
{
    // from_chars takes no '+' or white space, and no '-' for an unsigned type.
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> parse_dimensions(std::string_view text, std::uint64_t high)
{
    const auto x = text.find_first_of("xX");
    if (x == std::string_view::npos)
        return std::nullopt;
    const auto w = parse_number(text.substr(0, x), 1, high), h = parse_number(text.substr(x + 1), 1, high);
    if (!w || !h)
        return std::nullopt;
    return std::pair{*w, *h};
}

} // namespace tool

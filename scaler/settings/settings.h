// Internal: the settings as a person gives them. Every door (the tool, the
// Python package, the page, the npm package) takes a setting's value as
// text or a number and shows the library's words when it is wrong, so the
// words live here once: each door's name for each setting, the words that
// name a value, the numbers read exactly, and what a setting wants.
//
// A message names a setting as {field}; words() puts each door's name in.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include <lq2x/lq2x.hpp>

namespace lq2x::detail {

// Text made of its parts. (g++ 12 warns falsely of an overlap in
// "x" + std::string(...), so the messages are put together with this.)
template <typename... T>
std::string joined(const T&... parts)
{
    std::string out;
    (out.append(std::string_view(parts)), ...);
    return out;
}

// (Inline, so that the files library, which reads settings of its own,
// shares them without reaching into this library.)

// A value as a message quotes it: a number as it is, any other text in quotes.
inline std::string quoted(std::string_view text)
{
    const bool number = !text.empty() && std::all_of(text.begin() + (text[0] == '-' && text.size() > 1), text.end(),
                                                     [](char c) { return c >= '0' && c <= '9'; });
    return number ? std::string(text) : joined("'", text, "'");
}

// What a refused value is told: "{field}: wants WHAT, not GIVEN".
inline std::string wants(std::string_view field, std::string_view what, std::string_view given)
{
    return joined("{", field, "}: wants ", what, ", not ", quoted(given));
}

// A whole decimal number from `low` to `high`: digits with at most a '-'
// before them, nothing else (no '+', no spaces, nothing after).
template <typename T>
std::optional<T> whole(std::string_view text, T low, T high)
{
    // from_chars takes no '+' or white space, and no '-' for an unsigned type.
    T value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}
inline std::optional<std::int64_t> whole_number(std::string_view text, std::int64_t low, std::int64_t high)
{
    return whole<std::int64_t>(text, low, high);
}
inline std::optional<std::uint64_t> whole_unsigned(std::string_view text, std::uint64_t low, std::uint64_t high)
{
    return whole<std::uint64_t>(text, low, high);
}

// "WxH" (or "WXH"), each a whole number from `low` to `high`.
inline std::optional<std::pair<std::int64_t, std::int64_t>> dimensions(std::string_view text, std::int64_t low,
                                                                       std::int64_t high)
{
    const auto x = text.find_first_of("xX");
    if (x == std::string_view::npos)
        return std::nullopt;
    const auto w = whole_number(text.substr(0, x), low, high), h = whole_number(text.substr(x + 1), low, high);
    if (!w || !h)
        return std::nullopt;
    return std::pair{*w, *h};
}

// The word of `words` that is `text`, by its place; none when no word is.
inline std::optional<int> word_index(std::span<const std::string_view> words, std::string_view text)
{
    const auto at = std::find(words.begin(), words.end(), text);
    if (at == words.end())
        return std::nullopt;
    return int(at - words.begin());
}

// The words as a message lists them: "a, b or c".
inline std::string listed(std::span<const std::string_view> words)
{
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i)
        out += joined(i == 0 ? "" : i + 1 == words.size() ? " or " : ", ", words[i]);
    return out;
}

// The settings whose values have a rule of their own, and their names.
enum class field { orientation, edge_x, edge_y, kernel, tile, tile_margin, tile_spacing, scale };
inline constexpr std::string_view FIELD_NAMES[] = {"orientation", "edge_x",      "edge_y",       "kernel",
                                                   "tile",        "tile_margin", "tile_spacing", "scale"};

// The value of one setting on its own, judged as check_options judges it:
// the error, and with `why` the words. (Only integers are compared on the
// way to error::none: every frame call is checked so.)
error check_value(const options& opt, field f, std::string* why);

// The words that name an orientation, an edge mode and a kernel, by value.
inline constexpr std::string_view ORIENTATION_WORDS[] = {"none", "ccw", "cw"};
inline constexpr std::string_view EDGE_WORDS[] = {"clamp", "wrap", "transparent"};
inline constexpr std::string_view KERNEL_WORDS[] = {
    kernel_name(kernel::automatic), kernel_name(kernel::portable), kernel_name(kernel::sse41),
    kernel_name(kernel::avx2),      kernel_name(kernel::avx512),   kernel_name(kernel::neon),
    kernel_name(kernel::simd128)};

} // namespace lq2x::detail

// Internal: the settings as a person gives them. Every door (the tool, the
// Python package, the page) takes a setting's value as text or a number and
// shows the library's words when it is wrong, so the words live here once:
// each door's name for each setting, the words that name a value, the
// numbers read exactly, and what a setting wants.
//
// A message names a setting as {field}; words() puts each door's name in.
#pragma once

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

// What a refused value is told: "{field}: wants WHAT, not GIVEN".
std::string wants(std::string_view field, std::string_view what, std::string_view given);
// A value as a message quotes it: a number as it is, any other text in quotes.
std::string quoted(std::string_view text);

// A whole decimal number from `low` to `high`: digits with at most a '-'
// before them, nothing else (no '+', no spaces, nothing after).
std::optional<std::int64_t> whole_number(std::string_view text, std::int64_t low, std::int64_t high);
std::optional<std::uint64_t> whole_unsigned(std::string_view text, std::uint64_t low, std::uint64_t high);
// "WxH" (or "WXH"), each a whole number from `low` to `high`.
std::optional<std::pair<std::int64_t, std::int64_t>> dimensions(std::string_view text, std::int64_t low,
                                                                std::int64_t high);

// The word of `words` that is `text`, by its place; none when no word is.
std::optional<int> word_index(std::span<const std::string_view> words, std::string_view text);
// The words as a message lists them: "a, b or c".
std::string listed(std::span<const std::string_view> words);

// The words that name an orientation, an edge mode and a kernel, by value.
inline constexpr std::string_view ORIENTATION_WORDS[] = {"none", "ccw", "cw"};
inline constexpr std::string_view EDGE_WORDS[] = {"clamp", "wrap", "transparent"};
inline constexpr std::string_view KERNEL_WORDS[] = {
    kernel_name(kernel::automatic), kernel_name(kernel::portable), kernel_name(kernel::sse41),
    kernel_name(kernel::avx2),      kernel_name(kernel::avx512),   kernel_name(kernel::neon),
    kernel_name(kernel::simd128)};

} // namespace lq2x::detail

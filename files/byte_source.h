// An input's bytes read from any place in it, as often as wanted: a file on
// disk, or bytes in memory. What a picture scaled by rows reads its source
// from (more than once: once to choose the output's form, once to write it).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

namespace lq2x::files {

class byte_source {
public:
    virtual ~byte_source() = default;
    virtual std::uint64_t size() const = 0;
    // Fills `into` from byte `at` on: how many bytes it read, fewer only at
    // the end or on a failure (which why() then names). Never throws: it is
    // called from under libpng.
    virtual std::size_t read_at(std::uint64_t at, std::span<std::uint8_t> into) = 0;
    virtual const char* why() const { return "truncated data"; }
};

class memory_source final : public byte_source {
public:
    explicit memory_source(std::span<const std::uint8_t> data) : data_(data) {}
    std::uint64_t size() const override { return data_.size(); }
    std::size_t read_at(std::uint64_t at, std::span<std::uint8_t> into) override
    {
        if (at >= data_.size())
            return 0;
        const std::size_t n = std::min<std::uint64_t>(into.size(), data_.size() - at);
        std::memcpy(into.data(), data_.data() + at, n);
        return n;
    }

private:
    std::span<const std::uint8_t> data_;
};

} // namespace lq2x::files

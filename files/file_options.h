// Internal: what every entry of the files interface does first and last:
// the options checked (in words naming the setting at fault), read into
// what the readers and writers take, and failures given back as file_error
// in the words of the caller's door.
#pragma once

#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <lq2x/files.hpp>

#include "disk.h"
#include "dispatch.h"

namespace lq2x::files {

// Refuses options that cannot be used (failure, with the status and words).
void check(const options& opt, const file_options& file);

// The writers' settings under these options (threads: one a core for 0).
encode_options encoding(const options& opt, const file_options& file);

// The decoders' limits and raw size under these options.
decode_options decoding(const options& opt, const file_options& file);

// Reads one setting from its text (set_file_option's work); the message that
// refuses it, with settings written {field}, or none.
std::optional<std::string> read_setting(file_options& file, std::string_view name, std::string_view text);

// The whole of scale_file: the file read, scaled and written in `out`
// (format::same: the input's own, or PNG for one the library only reads).
std::vector<std::uint8_t> scale_bytes(std::span<const std::uint8_t> data, const options& opt, const file_options& file,
                                      format out, std::string* warning);

// Runs one call of the interface: the library's own failures and running
// out of memory become file_error, in the door's words.
template <typename F>
auto guarded(door d, F call) -> decltype(call())
{
    try {
        return call();
    } catch (const failure& e) {
        throw file_error(e.status, words(e.what(), d));
    } catch (const disk::failure& e) {
        throw file_error(e.status, words(e.what(), d), e.output);
    } catch (const std::bad_alloc&) {
        throw file_error(error::no_memory, describe(error::no_memory));
    }
}

} // namespace lq2x::files

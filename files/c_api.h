// Internal: what the files library's C entry points share (c_api.cpp, and
// those for files on disk in path.cpp): the caller's options read by the
// one reader of size-prefixed structs, and a call's failure given back as
// its status with the reason in the caller's message.
#pragma once

#include <cstdio>
#include <new>
#include <string>

#include <lq2x/files.hpp>
#include <lq2x/lq2x_files.h>

namespace lq2x::files::c {

// The caller's file options as the library knows them; false for a struct
// it cannot read. A field past the caller's version keeps its default.
bool read_file_options(const lq2x_file_options* given, file_options& out);
// Written back as far as the caller's version goes.
bool write_file_options(lq2x_file_options* to, const file_options& from);

void put(char* message, std::size_t size, const std::string& text);
template <std::size_t N>
void put(char (&message)[N], const std::string& text)
{
    put(message, N, text);
}

template <std::size_t N>
lq2x_status fail(char (&message)[N], lq2x_status status, const std::string& why)
{
    put(message, why);
    return status;
}

// Runs a call whose options are read; its file_error becomes the status and
// the message (and `output`, when given, says which file failed).
template <std::size_t N, typename F>
lq2x_status run(const lq2x_options* given, const lq2x_file_options* given_file, char (&message)[N], F call,
                std::int32_t* output = nullptr)
{
    options opt;
    file_options file;
    if (read_options(given, opt) != error::none || !read_file_options(given_file, file))
        return fail(message, LQ2X_ERROR_BAD_OPTIONS, lq2x_describe(LQ2X_ERROR_BAD_OPTIONS));
    try {
        return call(opt, file);
    } catch (const file_error& e) {
        if (output != nullptr)
            *output = e.output();
        return fail(message, lq2x_status(e.status()), e.what());
    } catch (const std::bad_alloc&) {
        return fail(message, LQ2X_ERROR_NO_MEMORY, lq2x_describe(LQ2X_ERROR_NO_MEMORY));
    }
}

} // namespace lq2x::files::c

#!/usr/bin/env bash
# Builds outside programs against the library the ways a user would, once with
# the static library and once with the shared one: find_package on an
# installed copy, add_subdirectory on the source tree (with and without the
# project's own tests), from a project in C alone, and pkg-config as a user
# types it (no --static). A C99 program and a C++ one scale the same frames
# and must print the same fingerprint; the shared library must export nothing
# but the public interfaces.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
here="$src/tests/consumers"
work=$(mktemp -d)
chmod 755 "$work" # some tests run a program as an unprivileged user, who must reach the build
# The builds sit beside the presets' (build/NAME), where a compiler cache
# (CI's) finds the same relative paths and so the same compilations.
trap 'rm -rf "$work" "$src/build/consumers-static" "$src/build/consumers-shared"' EXIT
passed=0
failed=0
pass() { echo "ok: $*"; passed=$((passed + 1)); }
fail() { echo "FAILED: $*" >&2; failed=$((failed + 1)); }
# Both consumers' fingerprints, which must agree.
same_result() {
    local what=$1 c cxx
    c=$("$2") && cxx=$("$3") && [ -n "$c" ] && [ "$c" = "$cxx" ] && pass "$what: C and C++ agree ($c)" ||
        fail "$what: C '${c:-}' and C++ '${cxx:-}'"
}

for kind in static shared; do
    shared=OFF
    [ "$kind" = shared ] && shared=ON
    build="$src/build/consumers-$kind" prefix="$work/$kind/prefix"
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLQ2X_WERROR=ON -DBUILD_SHARED_LIBS=$shared \
        -DLQ2X_BUILD_TESTS=OFF -DLQ2X_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" >/dev/null
    cmake --install "$build" --prefix "$prefix" >/dev/null
    # The tool comes with the library, and knows the project's version.
    version=$(LD_LIBRARY_PATH="$prefix/lib" "$prefix/bin/lq2x" --version)
    [ "$version" = "lq2x $(sed -n 's/^project(lq2x VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")" ] &&
        pass "$kind: tool version $version" || fail "$kind: tool version '$version'"
    [ -f "$prefix/share/doc/lq2x/LICENSE" ] && pass "$kind: licence installed" || fail "$kind: no licence installed"

    if [ "$kind" = shared ]; then
        so=$(find "$prefix" -name 'liblq2x.so.*.*' | head -n 1)
        soname=$(objdump -p "$so" | awk '/SONAME/ {print $2}')
        [ -n "$soname" ] && pass "shared: SONAME $soname" || fail "shared: no SONAME"
        # Every exported definition is a public name: the C interface or namespace lq2x, not its detail.
        nm -D --defined-only "$so" | awk '{print $3}' | c++filt >"$work/exports"
        if grep -v -E '^(lq2x_[a-z0-9_]+|lq2x::(scale|scale_rows|scale_picture|scale_picture_rows|picture_size|picture_layout|picture_check|pass_options|read_options|set_option|words|setting_named|kernel_in_use|lq2x_corners|lq2x_corners8888|lq2x_row|lq2x_frame)(\[abi:cxx11\])?\(.*\)|LQ2X_[0-9.]+)$' \
            "$work/exports"; then
            fail "shared: the names above are exported"
        else
            pass "shared: exports only public names ($(wc -l <"$work/exports"))"
        fi
        # And the files library: its C interface and its public C++ one.
        files_so=$(find "$prefix" -name 'liblq2x_files.so.*.*' | head -n 1)
        nm -D --defined-only "$files_so" | awk '{print $3}' | c++filt >"$work/files_exports"
        if grep -v -E '^(lq2x_[a-z0-9_]+|lq2x::(scale_file|read_file|write_file|format_of_bytes|format_of_name|format_name|format_writes|format_written_for|file_limits|set_file_option|scale_path|output_format|read_input|scale_stream|identify_file|begin_program|batch_output|batch_takes)\(.*\)|(typeinfo|typeinfo name|vtable) for lq2x::file_error|LQ2X_[0-9.]+)$' \
            "$work/files_exports"; then
            fail "shared: the files library exports the names above"
        else
            pass "shared: the files library exports only public names ($(wc -l <"$work/files_exports"))"
        fi
        export LD_LIBRARY_PATH="$prefix/lib"
    fi

    cmake -S "$here/installed" -B "$work/$kind/installed" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$work/$kind/installed" >/dev/null
    same_result "$kind find_package" "$work/$kind/installed/c_consumer" "$work/$kind/installed/consumer"
    [ "$("$work/$kind/installed/files_consumer")" = 35 ] && pass "$kind find_package: lq2x::files scales a file" ||
        fail "$kind find_package: lq2x::files"
    # The examples built outside: what each writes, the installed tool writes too.
    ex="$work/$kind/examples"
    mkdir "$ex"
    if "$work/$kind/installed/scale_pixels" "$ex" && "$work/$kind/installed/scale_file" "$ex/sprite.png" "$ex/c.png" 8 &&
        "$prefix/bin/lq2x" --scale 4 --rotate cw "$ex/sprite.png" "$ex/tool4.png" &&
        "$prefix/bin/lq2x" --scale 8 "$ex/sprite.png" "$ex/tool8.png" &&
        cmp "$ex/sprite-4x.png" "$ex/tool4.png" && cmp "$ex/c.png" "$ex/tool8.png"; then
        pass "$kind find_package: the C and C++ examples write what the tool writes"
    else
        fail "$kind find_package: the examples"
    fi
    # The tool's own component: the program runs from it alone (with shared
    # libraries, those it carries), beside its manual page and completion.
    cmake --install "$build" --component tool --prefix "$work/$kind/tool" >/dev/null
    if [ "$(LD_LIBRARY_PATH="$work/$kind/tool/lib" "$work/$kind/tool/bin/lq2x" --version)" = "$version" ] &&
        [ -f "$work/$kind/tool/share/man/man1/lq2x.1" ] &&
        [ -f "$work/$kind/tool/share/bash-completion/completions/lq2x" ]; then
        pass "$kind: the tool component runs on its own ($(find "$work/$kind/tool" -type f | wc -l) files)"
    else
        fail "$kind: the tool component"
    fi

    # A project in C alone: CMake links it with the C compiler, and the
    # static library must bring the C++ runtime it needs.
    plain="$work/$kind/plain_c"
    if cmake -S "$here/plain_c" -B "$plain" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$work/plain.log" 2>&1 &&
        cmake --build "$plain" >>"$work/plain.log" 2>&1; then
        same_result "$kind find_package from C alone" "$plain/c_consumer" "$work/$kind/installed/consumer"
        [ "$("$plain/files_consumer")" = 35 ] && pass "$kind find_package from C alone: lq2x::files" ||
            fail "$kind find_package from C alone: lq2x::files"
        [ ! -e "$plain/gpu_consumer" ] || { [ "$("$plain/gpu_consumer")" = same ] &&
            pass "$kind find_package from C alone: lq2x::lq2x_gpu, the library's bits" ||
            fail "$kind find_package from C alone: lq2x::lq2x_gpu"; }
    else
        tail -n 20 "$work/plain.log" >&2
        fail "$kind find_package from C alone: did not build"
    fi

    # pkg-config as a user types it, without --static: the C++ runtime and
    # the libraries below are in the public fields of a static-only
    # install, and named by the shared libraries themselves.
    pc_dir=$(dirname "$(find "$prefix" -name lq2x.pc)")
    [ "$(PKG_CONFIG_PATH="$pc_dir" pkg-config --variable=prefix lq2x)" -ef "$prefix" ] &&
        pass "$kind pkg-config: prefix found from the file's place" || fail "$kind pkg-config: wrong prefix"
    pc() { PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs "$@"; }
    read -r -a flags <<<"$(pc lq2x)"
    cc -std=c99 -pedantic -Wall -Wextra -Werror "$here/consumer.c" "${flags[@]}" -o "$work/$kind/pc_c"
    c++ -std=c++20 "$here/consumer.cpp" "${flags[@]}" -o "$work/$kind/pc_cxx"
    same_result "$kind pkg-config" "$work/$kind/pc_c" "$work/$kind/pc_cxx"
    read -r -a flags <<<"$(pc lq2x_files)"
    cc -std=c99 -pedantic -Wall -Wextra -Werror "$here/files_consumer.c" "${flags[@]}" -o "$work/$kind/pc_files" &&
        [ "$("$work/$kind/pc_files")" = 35 ] && pass "$kind pkg-config: lq2x_files from C" ||
        fail "$kind pkg-config: lq2x_files from C"
    if [ -n "$(find "$prefix" -name 'liblq2x_gpu.*' -print -quit)" ]; then
        read -r -a flags <<<"$(pc lq2x_gpu)"
        cc -std=c99 -pedantic -Wall -Wextra -Werror "$here/gpu_consumer.c" "${flags[@]}" -o "$work/$kind/pc_gpu" &&
            [ "$("$work/$kind/pc_gpu")" = same ] && pass "$kind pkg-config: lq2x_gpu from C, the library's bits" ||
            fail "$kind pkg-config: lq2x_gpu from C"
    fi

    # (The static one optimised: the project's tests are built in it below.)
    sub_type=()
    [ "$kind" = static ] && sub_type=(-DCMAKE_BUILD_TYPE=Release)
    cmake -S "$here/subdirectory" -B "$work/$kind/sub" -G Ninja -DLQ2X_SOURCE_DIR="$src" \
        -DBUILD_SHARED_LIBS=$shared "${sub_type[@]}" >/dev/null
    cmake --build "$work/$kind/sub" >/dev/null
    # Embedded, the project builds no tests, benchmark or programs of its own.
    if [ -e "$work/$kind/sub/lq2x/tests" ] || [ -e "$work/$kind/sub/lq2x/lq2x_testbench" ]; then
        fail "$kind add_subdirectory built the project's own tests or programs"
    else
        same_result "$kind add_subdirectory" "$work/$kind/sub/c_consumer" "$work/$kind/sub/consumer"
    fi
    unset LD_LIBRARY_PATH
done

# An embedding project may ask for the project's tests, and they build and pass
# there (the static embedding above, asked again: only the tests are new).
# Optimised, as the project's own test builds are: unoptimised, the model
# tests took 100 s of both cores (250 s of processor time), optimised 10 s,
# after 16 s more of building.
cmake -S "$here/subdirectory" -B "$work/static/sub" -G Ninja -DLQ2X_SOURCE_DIR="$src" -DLQ2X_BUILD_TESTS=ON \
    -DLQ2X_BUILD_TOOL=OFF >/dev/null
cmake --build "$work/static/sub" >/dev/null
ctest --test-dir "$work/static/sub/lq2x" -j2 >"$work/ctest.log" 2>&1 && pass "embedded with LQ2X_BUILD_TESTS=ON: $(grep 'tests passed' "$work/ctest.log")" ||
    { cat "$work/ctest.log" >&2; fail "embedded with LQ2X_BUILD_TESTS=ON"; }

echo "consumers: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

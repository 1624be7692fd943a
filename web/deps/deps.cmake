# In a WebAssembly build, before the files library looks for its
# libraries: fetches the pinned Debian sources (fetch.sh), builds them with
# the same compiler and flags as the project (CMakeLists.txt beside this
# file) into <build>/deps/prefix, and makes that prefix the one place
# find_package and pkg-config look. Done while configuring, once: again only
# when the pins, the way they are built or the flags change.
set(deps_dir ${CMAKE_BINARY_DIR}/deps)
set(deps_prefix ${deps_dir}/prefix)
file(READ ${CMAKE_CURRENT_LIST_DIR}/sources.txt deps_pins)
file(READ ${CMAKE_CURRENT_LIST_DIR}/CMakeLists.txt deps_recipe)
string(SHA256 deps_key "${deps_pins}${deps_recipe}${CMAKE_C_FLAGS} ${CMAKE_C_FLAGS_RELEASE}")
set(deps_stamp ${deps_prefix}/built-${deps_key})

if(NOT EXISTS ${deps_stamp})
    message(STATUS "lq2x: fetching and building the files library's C libraries for WebAssembly (a few minutes)")
    string(TIMESTAMP deps_started "%s")
    if(NOT EXISTS ${deps_dir}/src/fetched-${deps_key})
        file(REMOVE_RECURSE ${deps_dir}/src)
        execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/fetch.sh ${deps_dir}/src
                        COMMAND_ERROR_IS_FATAL ANY)
        file(TOUCH ${deps_dir}/src/fetched-${deps_key})
    endif()
    file(REMOVE_RECURSE ${deps_dir}/build ${deps_prefix})
    execute_process(
        COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${deps_dir}/build -G ${CMAKE_GENERATOR}
                -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
                "-DCMAKE_C_FLAGS=${CMAKE_C_FLAGS}" -DCMAKE_INSTALL_PREFIX=${deps_prefix}
                -DLQ2X_DEPS_SOURCE=${deps_dir}/src
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    # Two jobs at most: the machines this is built on are small and shared.
    execute_process(COMMAND nice ${CMAKE_COMMAND} --build ${deps_dir}/build --target install -j 2
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(TOUCH ${deps_stamp})
    string(TIMESTAMP deps_done "%s")
    math(EXPR deps_seconds "${deps_done} - ${deps_started}")
    message(STATUS "lq2x: the C libraries for WebAssembly took ${deps_seconds} s")
endif()

list(PREPEND CMAKE_FIND_ROOT_PATH ${deps_prefix})
list(PREPEND CMAKE_PREFIX_PATH ${deps_prefix})
set(ENV{PKG_CONFIG_LIBDIR} ${deps_prefix}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

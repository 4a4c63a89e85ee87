# Installs the build into PREFIX and builds the example host against that tree the two ways another
# project would: with pkg-config's flags for libmkv (pkg-config is MKV_TOOL_PKG_CONFIG in the environment)
# and with a CMake project calling find_package(MKV). Both programs, and the installed mkvdemux, must then
# read SAMPLE. EXTRA_FLAGS (one flag) go to both compilations: a sanitizer build's library needs them.

# Runs a command and leaves its output in `output`; stops the test with that output unless it succeeds.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${what} failed (${result}):\n${command}\n${out}${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

# Runs the example, which prints the track count, then each track's first samples and their count between
# the library's own lines (a load time, which varies). Leaves in `listing` the tracks up to the last sample.
function(check_example what program)
  run("${what}" ${program} ${SAMPLE})
  if(NOT output MATCHES "(^|\n)([1-9][0-9]* tracks\n.*\n  [1-9][0-9]* samples\n)")
    message(FATAL_ERROR "${what} read no samples from ${SAMPLE}:\n${output}")
  endif()
  set(listing "${CMAKE_MATCH_2}" PARENT_SCOPE)
endfunction()

# The library and the tool must be current before they are installed.
run("building libMKV and mkvdemux" ${CMAKE_COMMAND} --build ${BUILD_DIR} --config ${CONFIG} --target MKV mkvdemux)
set(work ${PREFIX}-work)
file(REMOVE_RECURSE ${PREFIX} ${work})
file(MAKE_DIRECTORY ${work})
run("installing" ${CMAKE_COMMAND} --install ${BUILD_DIR} --config ${CONFIG} --prefix ${PREFIX})
set(examples ${PREFIX}/${DATAROOTDIR}/doc/libmkv/examples)

# The installed tool finds the installed library beside it.
run("the installed mkvdemux" ${PREFIX}/${BINDIR}/mkvdemux info ${SAMPLE})

# pkg-config, as the README's one-line build command does it.
set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
run("pkg-config" $ENV{MKV_TOOL_PKG_CONFIG} --cflags --libs libmkv)
separate_arguments(flags UNIX_COMMAND "${output}")
run("pkg-config" $ENV{MKV_TOOL_PKG_CONFIG} --variable=libdir libmkv)
string(STRIP "${output}" libdir)
if(NOT libdir STREQUAL "${PREFIX}/${LIBDIR}")
  message(FATAL_ERROR "libmkv.pc names ${libdir} as libdir, not ${PREFIX}/${LIBDIR}")
endif()
run("compiling the example with pkg-config's flags" ${C_COMPILER} -std=c99 ${EXTRA_FLAGS} ${examples}/minimal_host.c
    ${flags} -Wl,-rpath,${libdir} -o ${work}/host_pkgconfig)
check_example("the example built with pkg-config" ${work}/host_pkgconfig)
set(pkgConfigListing "${listing}")

# The installed example's own CMake project, which finds the package.
run("configuring the example's CMake project"
    ${CMAKE_COMMAND} -S ${examples} -B ${work}/cmake -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${PREFIX}
    -DCMAKE_C_COMPILER=${C_COMPILER} "-DCMAKE_C_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
file(STRINGS ${work}/cmake/CMakeCache.txt packageDir REGEX "^MKV_DIR:")
if(NOT packageDir STREQUAL "MKV_DIR:PATH=${PREFIX}/${LIBDIR}/cmake/MKV")
  message(FATAL_ERROR "find_package(MKV) found another package: ${packageDir}")
endif()
run("building the example's CMake project" ${CMAKE_COMMAND} --build ${work}/cmake)
check_example("the example built with find_package(MKV)" ${work}/cmake/minimal_host)
if(NOT listing STREQUAL pkgConfigListing)
  message(FATAL_ERROR "the two builds of the example disagree:\n${pkgConfigListing}\n---\n${listing}")
endif()

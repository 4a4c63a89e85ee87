# The public interface as a host sees it: the exported symbols, and the
# example host of the README, which includes only the header.

# Exactly the eight entry points leave libMKV.so. CMAKE_NM is the target's
# nm, so the check reads ARM objects in a cross build.
add_test(NAME api_exports_only_entry_points
         COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DLIBRARY=$<TARGET_FILE:MKV>
                 -P ${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake)

# The same check on a library with one stray export must name that symbol
# and find all eight entry points.
add_library(mkv_stray_export_fixture SHARED ${CMAKE_CURRENT_SOURCE_DIR}/api/StrayExportLibrary.c)
target_include_directories(mkv_stray_export_fixture PRIVATE ${PROJECT_SOURCE_DIR}/api)
add_test(NAME api_exports_check_names_a_stray_symbol
         COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DLIBRARY=$<TARGET_FILE:mkv_stray_export_fixture>
                 -P ${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake)
set_tests_properties(api_exports_check_names_a_stray_symbol PROPERTIES
                     PASS_REGULAR_EXPRESSION "missing: *\n *unexpected: [^\n]*T MkvStrayExport")

# C programs that include only the public header, built as strict C99 with
# every warning an error and linked against the shared library as a host is.
function(mkv_add_c99_host target source)
  add_executable(${target} ${source})
  target_link_libraries(${target} PRIVATE MKV)
  set_target_properties(${target} PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

mkv_add_c99_host(example_minimal_host ${PROJECT_SOURCE_DIR}/tools/examples/minimal_host.c)
add_test(NAME example_minimal_host_reports_a_missing_file
         COMMAND example_minimal_host ${CMAKE_CURRENT_BINARY_DIR}/no-such-file.mkv)
set_tests_properties(example_minimal_host_reports_a_missing_file PROPERTIES
                     PASS_REGULAR_EXPRESSION "cannot load .*no-such-file.mkv")

# Unit tests that shell out to desktop tools skip themselves when this is 1:
# their programs then run under an emulator on a machine set up for a
# native build.
target_compile_definitions(mkv_test_support PUBLIC
                           MKV_TEST_UNDER_EMULATOR=$<BOOL:${CMAKE_CROSSCOMPILING}>)

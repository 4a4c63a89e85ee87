# The public interface as a host sees it.

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

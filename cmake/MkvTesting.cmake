# Test helpers shared by tests/ and tools/.

# mkv_add_desktop_tool_test(NAME <name> TOOLS <tool>... COMMAND <arg>...
#                           [WORKING_DIRECTORY <dir>])
#
# Registers an end-to-end test that checks results against desktop tools of
# the build machine (ffprobe, mkvinfo). In a cross build the programs under
# test run under an emulator, and the desktop tools may be absent on a
# developer's machine; in both cases the test stays listed and reports
# itself skipped with the reason, instead of failing.
#
# The full path of each tool is passed to the command as MKV_TOOL_<TOOL>
# (MKV_TOOL_FFPROBE, MKV_TOOL_MKVINFO, MKV_TOOL_PKG_CONFIG) in its
# environment.
function(mkv_add_desktop_tool_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;WORKING_DIRECTORY" "TOOLS;COMMAND")
  if(NOT arg_NAME OR NOT arg_COMMAND)
    message(FATAL_ERROR "mkv_add_desktop_tool_test needs NAME and COMMAND")
  endif()

  set(skipReason "")
  set(toolEnvironment "")
  if(CMAKE_CROSSCOMPILING)
    list(JOIN arg_TOOLS ", " toolNames)
    set(skipReason "cross build: checks against ${toolNames} run in native builds only")
  else()
    foreach(tool IN LISTS arg_TOOLS)
      string(MAKE_C_IDENTIFIER "MKV_TOOL_${tool}" toolVariable)
      string(TOUPPER "${toolVariable}" toolVariable)
      find_program(${toolVariable} ${tool})
      if(NOT ${toolVariable})
        set(skipReason "${tool} is not installed")
        break()
      endif()
      list(APPEND toolEnvironment "${toolVariable}=${${toolVariable}}")
    endforeach()
  endif()

  if(skipReason)
    add_test(NAME ${arg_NAME} COMMAND sh -c "echo \"skipped: $1\"; exit 77" sh "${skipReason}")
    set_tests_properties(${arg_NAME} PROPERTIES SKIP_RETURN_CODE 77)
    return()
  endif()

  if(arg_WORKING_DIRECTORY)
    add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND} WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  else()
    add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND})
  endif()
  if(toolEnvironment)
    set_tests_properties(${arg_NAME} PROPERTIES ENVIRONMENT "${toolEnvironment}")
  endif()
endfunction()

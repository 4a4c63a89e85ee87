# Checks that a shared library defines and exports exactly the eight entry
# points of the public interface, as global functions, and nothing else.
#
#   cmake -DNM=<nm> -DLIBRARY=<libMKV.so> -P CheckExports.cmake
#
# NM is the nm of the library's target (the cross nm in an ARM build).

cmake_minimum_required(VERSION 3.20)

foreach(required NM LIBRARY)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "CheckExports.cmake needs -D${required}=...")
  endif()
endforeach()

set(expected
  API_ZOLVDMX_Create
  API_ZOLVDMX_Destroy
  API_ZOLVDMX_Load
  API_ZOLVDMX_GetNumTracks
  API_ZOLVDMX_GetTrackType
  API_ZOLVDMX_GetMediaFormat
  API_ZOLVDMX_GetNextMediaSample
  API_ZOLVDMX_Seek)

execute_process(
  COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing
  ERROR_VARIABLE nmErrors
  RESULT_VARIABLE nmResult)
if(NOT nmResult EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${nmErrors}")
endif()

# Each line reads "<address> <type> <name>[@version]". Type T is a global
# function in the text section; anything else exported is a leak.
string(REPLACE "\n" ";" lines "${listing}")
set(found)
set(unexpected)
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^@ ]+)")
    list(APPEND unexpected "unparsed line '${line}'")
    continue()
  endif()
  set(type ${CMAKE_MATCH_1})
  set(name ${CMAKE_MATCH_2})
  if(name IN_LIST expected AND type STREQUAL "T")
    list(APPEND found ${name})
  else()
    list(APPEND unexpected "${type} ${name}")
  endif()
endforeach()

set(missing)
foreach(name IN LISTS expected)
  if(NOT name IN_LIST found)
    list(APPEND missing ${name})
  endif()
endforeach()

if(missing OR unexpected)
  list(JOIN missing ", " missingText)
  list(JOIN unexpected ", " unexpectedText)
  message(FATAL_ERROR "exports of ${LIBRARY} are wrong\n"
                      "  missing: ${missingText}\n"
                      "  unexpected: ${unexpectedText}")
endif()
list(LENGTH found count)
message(STATUS "${LIBRARY} exports exactly the ${count} entry points")

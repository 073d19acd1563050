# Checks the map of the window at the top of loader/loader.h against the sources:
#
#   cmake -DHEADER=<loader/loader.h> -DSOURCE_ROOT=<src dir> -P check_window_map.cmake
#
# Every row "| Control | Caption | Handler | File |" must name a file under
# SOURCE_ROOT that defines Loader::<Handler>, and every click, tick and
# unload handler that the sources define must have a row. Prints one line per
# fault and fails when there is any.

cmake_minimum_required(VERSION 3.25)

foreach(var HEADER SOURCE_ROOT)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "check_window_map.cmake: ${var} is not set")
    endif()
endforeach()

file(STRINGS "${HEADER}" rows REGEX "^// \\|")
set(faults 0)
set(mapped "")
foreach(row IN LISTS rows)
    if(row MATCHES "^// \\|[-|]+$")
        continue()
    endif()
    if(NOT row MATCHES "^// \\|[^|]*\\|[^|]*\\|[ ]*([A-Za-z0-9_]+)[ ]*\\|[ ]*([a-z_]+/[a-z_0-9]+\\.cpp)[ ]*\\|$")
        if(NOT row MATCHES "\\| Handler ")
            message("${HEADER}: a row of the map that does not read as one: ${row}")
            math(EXPR faults "${faults} + 1")
        endif()
        continue()
    endif()
    set(handler "${CMAKE_MATCH_1}")
    set(where "${CMAKE_MATCH_2}")
    list(APPEND mapped "${handler}")
    if(NOT EXISTS "${SOURCE_ROOT}/${where}")
        message("${handler}: the map names ${where}, which does not exist")
        math(EXPR faults "${faults} + 1")
        continue()
    endif()
    file(STRINGS "${SOURCE_ROOT}/${where}" defined REGEX "Loader::${handler}\\(")
    if(NOT defined)
        message("${handler}: the map names ${where}, which does not define Loader::${handler}")
        math(EXPR faults "${faults} + 1")
    endif()
endforeach()

# Every handler of a control or a timer, and the unload, has its row.
file(GLOB_RECURSE sources "${SOURCE_ROOT}/*.cpp")
foreach(source IN LISTS sources)
    file(STRINGS "${source}" definitions REGEX "Loader::[A-Za-z0-9]+_(Click|Timer|Unload)\\(")
    foreach(line IN LISTS definitions)
        string(REGEX MATCH "Loader::([A-Za-z0-9]+_(Click|Timer|Unload))\\(" ignored "${line}")
        set(handler "${CMAKE_MATCH_1}")
        if(NOT handler IN_LIST mapped)
            file(RELATIVE_PATH where "${SOURCE_ROOT}" "${source}")
            message("${handler}: defined in ${where} but missing from the map")
            math(EXPR faults "${faults} + 1")
        endif()
    endforeach()
endforeach()

list(LENGTH mapped count)
if(faults GREATER 0)
    message(FATAL_ERROR "${faults} fault(s) in the map of the window")
endif()
message("all ${count} handlers of the map are where it says, and every handler is on it")

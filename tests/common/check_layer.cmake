# Checks that the sources of the bottom library stay below the window:
#
#   cmake -DSOURCES=<file>|<file>... -DSOURCE_ROOT=<src dir> -DQT_CORE_DIR=<QtCore include dir> -P check_layer.cmake
#
# Every quoted include must name a file of the same library (found next to the
# including file or under SOURCE_ROOT); an include from window/ is named as
# such. Every Qt header (<QFoo>, <QtModule/...>, <qfoo.h>) must be one of Qt
# Core's. Other angle includes (the standard library, POSIX) are free. Prints
# one line per offending include and fails when there is any.

cmake_minimum_required(VERSION 3.25)

foreach(var SOURCES SOURCE_ROOT QT_CORE_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "check_layer.cmake: ${var} is not set")
    endif()
endforeach()

string(REPLACE "|" ";" sources "${SOURCES}")
set(library "")
foreach(file IN LISTS sources)
    file(REAL_PATH "${file}" real)
    list(APPEND library "${real}")
endforeach()

set(offences 0)
foreach(file IN LISTS library)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
    get_filename_component(dir "${file}" DIRECTORY)
    foreach(line IN LISTS lines)
        if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
            set(name "${CMAKE_MATCH_1}")
            set(found "")
            foreach(base IN ITEMS "${dir}" "${SOURCE_ROOT}")
                if(NOT found AND EXISTS "${base}/${name}")
                    file(REAL_PATH "${base}/${name}" found)
                endif()
            endforeach()
            if(name MATCHES "^window/")
                message("${file}: includes \"${name}\" from the window")
                math(EXPR offences "${offences} + 1")
            elseif(NOT found IN_LIST library)
                message("${file}: includes \"${name}\", which is not in the bottom library")
                math(EXPR offences "${offences} + 1")
            endif()
        elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
            set(name "${CMAKE_MATCH_1}")
            if(name MATCHES "^Qt([A-Za-z]+)/")
                if(NOT CMAKE_MATCH_1 STREQUAL "Core")
                    message("${file}: includes <${name}> from Qt ${CMAKE_MATCH_1}")
                    math(EXPR offences "${offences} + 1")
                endif()
            elseif(name MATCHES "^(Q[A-Za-z0-9]*|q[a-z0-9_]+\\.h)$")
                if(NOT EXISTS "${QT_CORE_DIR}/${name}")
                    message("${file}: includes <${name}>, which is not a Qt Core header")
                    math(EXPR offences "${offences} + 1")
                endif()
            endif()
        endif()
    endforeach()
endforeach()

list(LENGTH library count)
if(offences GREATER 0)
    message(FATAL_ERROR "${offences} include(s) reach above the bottom library")
endif()
message("${count} files of the bottom library include only each other, Qt Core and the system")

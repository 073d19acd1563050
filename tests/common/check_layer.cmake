# Checks that the sources of a library stay below the window:
#
#   cmake -DSOURCES=<file>|<file>... -DSOURCE_ROOT=<src dir> -DQT_CORE_DIR=<QtCore include dir>
#         [-DBELOW=<file>|...] [-DROOTS=<dir>|...] [-DQT_MODULES=<Module>|... -DQT_DIRS=<dir>|...]
#         [-DLAYER=<name>] -P check_layer.cmake
#
# Every quoted include must name a file of the same library or of the layers
# below it (BELOW), found next to the including file, under SOURCE_ROOT or
# under one of ROOTS; an include from window/ is named as such. Every Qt
# header (<QFoo>, <QtModule/...>, <qfoo.h>) must be one of Qt Core's or of
# the QT_MODULES allowed (their headers in QT_DIRS); Gui and Widgets never
# are. Other angle includes (the standard library, POSIX) are free. Prints
# one line per offending include and fails when there is any. LAYER names the
# library in the messages ("the bottom library" when not given).

cmake_minimum_required(VERSION 3.25)

foreach(var SOURCES SOURCE_ROOT QT_CORE_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "check_layer.cmake: ${var} is not set")
    endif()
endforeach()

if(NOT DEFINED LAYER)
    set(LAYER "the bottom library")
endif()
string(REPLACE "|" ";" sources "${SOURCES}")
string(REPLACE "|" ";" below "${BELOW}")
string(REPLACE "|" ";" roots "${ROOTS}")
string(REPLACE "|" ";" qt_modules "${QT_MODULES}")
string(REPLACE "|" ";" qt_dirs "${QT_DIRS}")
list(APPEND qt_dirs "${QT_CORE_DIR}")
list(APPEND qt_modules Core)
list(REMOVE_ITEM qt_modules Gui Widgets)
list(TRANSFORM qt_modules PREPEND "Qt " OUTPUT_VARIABLE qt_module_names)
list(REVERSE qt_module_names)
string(JOIN " or " qt_names ${qt_module_names})
set(library "")
foreach(file IN LISTS sources)
    file(REAL_PATH "${file}" real)
    list(APPEND library "${real}")
endforeach()
set(reachable "${library}")
foreach(file IN LISTS below)
    file(REAL_PATH "${file}" real)
    list(APPEND reachable "${real}")
endforeach()

set(offences 0)
foreach(file IN LISTS library)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
    get_filename_component(dir "${file}" DIRECTORY)
    foreach(line IN LISTS lines)
        if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
            set(name "${CMAKE_MATCH_1}")
            set(found "")
            foreach(base IN ITEMS "${dir}" "${SOURCE_ROOT}" ${roots})
                if(NOT found AND EXISTS "${base}/${name}")
                    file(REAL_PATH "${base}/${name}" found)
                endif()
            endforeach()
            if(name MATCHES "^window/")
                message("${file}: includes \"${name}\" from the window")
                math(EXPR offences "${offences} + 1")
            elseif(NOT found IN_LIST reachable)
                message("${file}: includes \"${name}\", which is not in ${LAYER}")
                math(EXPR offences "${offences} + 1")
            endif()
        elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
            set(name "${CMAKE_MATCH_1}")
            if(name MATCHES "^Qt([A-Za-z]+)/")
                if(NOT CMAKE_MATCH_1 IN_LIST qt_modules)
                    message("${file}: includes <${name}> from Qt ${CMAKE_MATCH_1}")
                    math(EXPR offences "${offences} + 1")
                endif()
            elseif(name MATCHES "^(Q[A-Za-z0-9]*|q[a-z0-9_]+\\.h)$")
                set(known FALSE)
                foreach(qt_dir IN LISTS qt_dirs)
                    if(EXISTS "${qt_dir}/${name}")
                        set(known TRUE)
                    endif()
                endforeach()
                if(NOT known)
                    message("${file}: includes <${name}>, which is not a ${qt_names} header")
                    math(EXPR offences "${offences} + 1")
                endif()
            endif()
        endif()
    endforeach()
endforeach()

list(LENGTH library count)
if(offences GREATER 0)
    message(FATAL_ERROR "${offences} include(s) reach above ${LAYER}")
endif()
message("${count} files of ${LAYER} include only each other, the layers below, Qt Core and the system")

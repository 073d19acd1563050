# Installs the build into a scratch DESTDIR, afresh each time.
#   cmake -DBUILD=<build folder> -DSTAGE=<scratch folder> -P stage.cmake
file(REMOVE_RECURSE "${STAGE}")
set(ENV{DESTDIR} "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix /usr
    RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install into ${STAGE} failed: ${result}")
endif()

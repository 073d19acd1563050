# Builds the Debian packages of the build into a scratch folder, afresh.
#   cmake -DBUILD=<build folder> -DOUT=<scratch folder> -DCPACK=<cpack> -P package.cmake
file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND "${CPACK}" -G DEB -B "${OUT}" --config "${BUILD}/CPackConfig.cmake"
    WORKING_DIRECTORY "${BUILD}" RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cpack failed (${result}):\n${output}")
endif()

# Installs the build into scratch DESTDIRs, afresh each time: the whole
# install into <STAGE>/all, and each component alone into <STAGE>/<package>.
#   cmake -DBUILD=<build folder> -DSTAGE=<scratch folder>
#         -DPACKAGES=<component>=<package>;... -P stage.cmake
file(REMOVE_RECURSE "${STAGE}")
function(stage destination)
    set(ENV{DESTDIR} "${destination}")
    execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix /usr ${ARGN}
        RESULT_VARIABLE result OUTPUT_QUIET)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "cmake --install ${ARGN} into ${destination} failed: ${result}")
    endif()
endfunction()
stage("${STAGE}/all")
foreach(pair IN LISTS PACKAGES)
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 component)
    list(GET pair 1 package)
    stage("${STAGE}/${package}" --component ${component})
endforeach()

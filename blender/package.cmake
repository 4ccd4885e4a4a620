# cmake -P: stages the add-on folder with the installed Python package inside
# it and zips it twice (see CMakeLists.txt). Stripped: the symbols would make
# the zip ten times larger. Nothing half-written is left: the zips are written
# beside and renamed into place.
set(stage ${BINARY_DIR}/blender-addon)
file(REMOVE_RECURSE ${stage})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --component python --strip --prefix ${stage}/prefix
                RESULT_VARIABLE failed OUTPUT_QUIET)
if(failed)
    message(FATAL_ERROR "the Python package could not be installed into ${stage}")
endif()
file(COPY ${SOURCE} DESTINATION ${stage} PATTERN __pycache__ EXCLUDE)
get_filename_component(folder ${SOURCE} NAME)
file(RENAME ${stage}/prefix/${PYTHON_DIR} ${stage}/${folder}/dunsmere)
file(REMOVE_RECURSE ${stage}/prefix)

function(zip out directory)
    file(GLOB_RECURSE entries RELATIVE ${directory} ${directory}/*)
    list(SORT entries)
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${out}.part --format=zip -- ${entries}
                    WORKING_DIRECTORY ${directory} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "could not write ${out}")
    endif()
    file(RENAME ${out}.part ${out})
endfunction()
zip(${ZIP} ${stage})
zip(${EXTENSION} ${stage}/${folder})

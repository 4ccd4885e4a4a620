# Fails unless LIBRARY's dynamic symbol table defines exactly the four
# exports. Run as: cmake -DNM=<nm> -DLIBRARY=<file> -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${NM} could not read ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(names)
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^.* " "" name "${line}")
    list(APPEND names "${name}")
endforeach()
list(SORT names)
set(expected LibClassDesc LibDescription LibNumberClasses LibVersion)
if(NOT names STREQUAL expected)
    message(FATAL_ERROR "${LIBRARY} exports [${names}], expected [${expected}]")
endif()
message(STATUS "exports: ${names}")

# The layering rule, checked on the sources at every build:
#   host < geom < eval < map < ui < plugin: a layer includes headers of its
#   own layer and of layers below it, never above;
#   outside geom/, eval/, map/ and ui/ only their layer headers (geom/geom.h,
#   ...) are included: the rest is the layer's own;
#   app/ is a host, and so is python/ (the module, a client of app/): it
#   includes host/, app/ and itself, and of the plug-in's
#   layers only geom/geom.h, so that a written mesh's normals are the ones
#   the bake samples with.
# Tests, benchmarks and fuzz targets are exempt: they may reach a layer's
# internals.
#
# Usage: cmake -DSOURCE_DIR=<tree> -P check_layers.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR)
    message(FATAL_ERROR "check_layers: SOURCE_DIR is not set")
endif()

set(_layers host geom eval map ui plugin)
set(_sealed geom eval map ui)
set(_plugin_layers geom eval map ui plugin)

set(_errors "")
foreach(_layer IN LISTS _layers ITEMS app python)
    list(FIND _layers ${_layer} _rank)
    file(GLOB_RECURSE _files LIST_DIRECTORIES false
         "${SOURCE_DIR}/${_layer}/*.h" "${SOURCE_DIR}/${_layer}/*.cpp")
    foreach(_file IN LISTS _files)
        file(STRINGS "${_file}" _lines)
        file(RELATIVE_PATH _name "${SOURCE_DIR}" "${_file}")
        set(_n 0)
        foreach(_line IN LISTS _lines)
            math(EXPR _n "${_n} + 1")
            if(NOT _line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"(([a-z_]+)/[^\"]*)\"")
                continue()
            endif()
            set(_header "${CMAKE_MATCH_1}")
            set(_target "${CMAKE_MATCH_2}")
            if(_target STREQUAL _layer)
                continue()
            endif()
            list(FIND _layers ${_target} _target_rank)
            if(_target_rank LESS 0)
                continue()
            endif()
            if(_layer STREQUAL "app" OR _layer STREQUAL "python")
                if(_target IN_LIST _plugin_layers AND NOT _header STREQUAL "geom/geom.h")
                    string(APPEND _errors "${_name}:${_n}: ${_layer}/ includes ${_header}: a host knows only host/\n")
                endif()
                continue()
            endif()
            if(_target_rank GREATER _rank)
                string(APPEND _errors "${_name}:${_n}: ${_layer}/ includes ${_header}, a layer above it\n")
            elseif(_target IN_LIST _sealed AND NOT _header STREQUAL "${_target}/${_target}.h")
                string(APPEND _errors "${_name}:${_n}: ${_layer}/ includes ${_header}, not its layer header ${_target}/${_target}.h\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(_errors)
    # One line each, unwrapped, so that an editor can jump to it.
    string(REGEX REPLACE "\n$" "" _errors "${_errors}")
    string(REPLACE "\n" ";" _errors "${_errors}")
    list(LENGTH _errors _count)
    foreach(_error IN LISTS _errors)
        message(NOTICE "${_error}")
    endforeach()
    message(FATAL_ERROR "layering broken: ${_count} include(s) point the wrong way")
endif()

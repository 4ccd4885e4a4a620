# The rollup panel and the plug-in library.

# The panel and the library's internals, with the plug-in's code linked in.
dunsmere_test(panel_tests THREADS ui_panel_test.cpp)
target_link_libraries(panel_tests PRIVATE dunsmere_plugin)
# The options page beside it, through the same host and recorder.
target_sources(panel_tests PRIVATE ui_options_page_test.cpp)

# The library's entry, descriptor and strings through the linked-in code,
# and the built Dunsmere.dlu through its exports.
dunsmere_test(plugin_tests THREADS plugin_test.cpp)
target_link_libraries(plugin_tests PRIVATE dunsmere_plugin ${CMAKE_DL_LIBS})
target_compile_definitions(plugin_tests PRIVATE
    DUNSMERE_PLUGIN_FILE="$<TARGET_FILE:Dunsmere>"
    DUNSMERE_PROJECT_VERSION="${PROJECT_VERSION}")
add_dependencies(plugin_tests Dunsmere)

if(NOT WIN32)
    add_test(NAME PluginExportsOnlyTheFour
             COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DLIBRARY=$<TARGET_FILE:Dunsmere>
                     -P ${PROJECT_SOURCE_DIR}/plugin/check_exports.cmake)
endif()

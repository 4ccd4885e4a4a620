dunsmere_test(command_tests command_test.cpp pins_test.cpp command_config_dir_test.cpp command_panel_test.cpp)
target_link_libraries(command_tests PRIVATE dunsmere_command)
target_compile_definitions(command_tests PRIVATE DUNSMERE_COMMAND="$<TARGET_FILE:dunsmere>"
    DUNSMERE_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")
add_dependencies(command_tests dunsmere)
if(DUNSMERE_SANITIZE)
    target_compile_definitions(command_tests PRIVATE DUNSMERE_SANITIZED)
endif()

# A library for another host version, next to the real plug-in in a
# folder of the test's own.
add_library(old_plugin MODULE old_plugin.cpp)
target_include_directories(old_plugin PRIVATE ${PROJECT_SOURCE_DIR})
set_target_properties(old_plugin PROPERTIES PREFIX "" SUFFIX ".dlu" OUTPUT_NAME "Aardvark")
target_compile_definitions(command_tests PRIVATE
    OLD_PLUGIN="$<TARGET_FILE:old_plugin>" REAL_PLUGIN="$<TARGET_FILE:Dunsmere>")
add_dependencies(command_tests old_plugin)

# The mesh rules through the command, with their bad and tricky files.
target_sources(command_tests PRIVATE command_rules_test.cpp)
target_compile_definitions(command_tests PRIVATE DUNSMERE_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")

dunsmere_test(command_tests command_test.cpp pins_test.cpp command_config_dir_test.cpp command_panel_test.cpp
    command_import_test.cpp)
# The import tests build assimp scenes by hand.
find_package(assimp CONFIG REQUIRED)
target_link_libraries(command_tests PRIVATE dunsmere_command assimp::assimp)
target_compile_definitions(command_tests PRIVATE DUNSMERE_COMMAND="$<TARGET_FILE:dunsmere>"
    DUNSMERE_EXAMPLES="${PROJECT_SOURCE_DIR}/examples" DUNSMERE_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
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

dunsmere_test(command_tests THREADS command_test.cpp pins_test.cpp command_config_dir_test.cpp command_panel_test.cpp
    command_import_test.cpp command_batch_test.cpp)
# The import tests build assimp scenes by hand; the tests that run the
# command in their own process use the codecs linked in.
target_link_libraries(command_tests PRIVATE dunsmere_command dunsmere_mesh_codec_objects dunsmere_image_codec_objects)
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

# The command with a hook for one failure a test chooses, in the folder of
# the real one so that it finds the same plug-in.
add_executable(dunsmere_faulty ${PROJECT_SOURCE_DIR}/app/command/main.cpp fault_hooks.cpp)
target_link_libraries(dunsmere_faulty PRIVATE dunsmere_command)
set_target_properties(dunsmere_faulty PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
add_dependencies(dunsmere_faulty Dunsmere)
target_sources(command_tests PRIVATE output_safety_test.cpp)
target_compile_definitions(command_tests PRIVATE DUNSMERE_FAULTY_COMMAND="$<TARGET_FILE:dunsmere_faulty>")
add_dependencies(command_tests dunsmere_faulty)
# The mesh rules through the command, with their bad and tricky files.
target_sources(command_tests PRIVATE command_rules_test.cpp)
# Stateless runs, presets and the command's manners in a pipeline.
target_sources(command_tests PRIVATE command_pipeline_test.cpp)
# Distances outside the panel's range and the refusals before work, against
# the plug-in's own bake through the test host.
target_sources(command_tests PRIVATE command_distance_test.cpp)
target_link_libraries(command_tests PRIVATE dunsmere_map)
# `dunsmere info`, against the mesh as read and a bake's own counts.
target_sources(command_tests PRIVATE command_info_test.cpp)
# Hard edges from mesh files, --smooth-angle and the normals and UVs written.
target_sources(command_tests PRIVATE command_smoothing_test.cpp)
# Occluder nodes in the ray scene: the generations through the test host,
# the standalone host's occluder files, ground plane and scaling.
target_sources(command_tests PRIVATE occluders_test.cpp)
# The options page through the command: its options, their refusals and
# their keys in the saved settings.
target_sources(command_tests PRIVATE command_options_page_test.cpp)
# What the command never overwrites, and how its line reads.
target_sources(command_tests PRIVATE command_guards_test.cpp)
# The progress bar on stderr, on a clock of the test's own.
target_sources(command_tests PRIVATE command_progress_test.cpp)
# A map's channels and bit depth through the command.
target_sources(command_tests PRIVATE image_channels_test.cpp)
# UDIM tiles: each tile against the classic bake of the mesh moved onto it.
target_sources(command_tests PRIVATE command_udim_test.cpp)
# Bakes from a high-poly mesh: copies, routes, misses and cages.
target_sources(command_tests PRIVATE command_high_low_test.cpp)

# Mesh files: OBJ reading and writing back, PLY and glTF output, assimp input.
dunsmere_test(mesh_tests THREADS mesh_files_test.cpp mesh_writing_test.cpp mesh_assimp_test.cpp
    mesh_obj_threads_test.cpp)
target_link_libraries(mesh_tests PRIVATE dunsmere_meshes dunsmere_mesh_codec_objects)

# The mesh rules, held against geom/'s normals, and the UV cover measures.
target_sources(mesh_tests PRIVATE mesh_rules_test.cpp uv_cover_test.cpp)
target_link_libraries(mesh_tests PRIVATE dunsmere_geom)
target_compile_definitions(mesh_tests PRIVATE DUNSMERE_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")

# Hard edges for files without smoothing groups, with their fixtures.
target_sources(mesh_tests PRIVATE mesh_smoothing_test.cpp)
target_compile_definitions(mesh_tests PRIVATE DUNSMERE_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")

# A model's references, held beneath its folder.
target_sources(mesh_tests PRIVATE mesh_references_test.cpp)

# Mesh files: OBJ reading and writing back, PLY and glTF output, assimp input.
dunsmere_test(mesh_tests mesh_files_test.cpp mesh_writing_test.cpp mesh_assimp_test.cpp)
target_link_libraries(mesh_tests PRIVATE dunsmere_meshes)

# Mesh files: our own OBJ reader and writer, a PLY writer, and every other
# format through assimp. Debian's assimp package exports assimp::assimp.
find_package(assimp CONFIG REQUIRED)

add_library(dunsmere_meshes STATIC
    ${CMAKE_CURRENT_LIST_DIR}/mesh_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pending_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/obj_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/obj_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ply_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/assimp_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gltf_writer.cpp)
target_link_libraries(dunsmere_meshes PUBLIC dunsmere_host dunsmere_temporaries PRIVATE assimp::assimp)

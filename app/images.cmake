# Image files: PNG and TIFF through libpng and libtiff, OpenEXR through its
# CMake package. The libraries' imported targets put their headers on the
# system include path, so the project's warnings do not reach them.
find_package(PNG REQUIRED)
find_package(TIFF REQUIRED)
find_package(OpenEXR CONFIG REQUIRED)

add_library(dunsmere_images STATIC
    ${CMAKE_CURRENT_LIST_DIR}/image_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/png_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tiff_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/exr_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_bitmaps.cpp)
target_link_libraries(dunsmere_images PUBLIC dunsmere_host dunsmere_temporaries PRIVATE PNG::PNG TIFF::TIFF OpenEXR::OpenEXR)

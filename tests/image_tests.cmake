# The image file tests. The layout test reads the files with the format
# libraries themselves, so it links them too.
find_package(TIFF REQUIRED)
find_package(OpenEXR CONFIG REQUIRED)

dunsmere_test(image_tests image_files_test.cpp image_layout_test.cpp temporary_files_test.cpp file_bitmaps_test.cpp)
target_link_libraries(image_tests PRIVATE dunsmere_images TIFF::TIFF OpenEXR::OpenEXR)

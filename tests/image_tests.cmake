# The image file tests, with the codec module's objects linked in. The
# layout test reads the files with the format libraries themselves.
find_package(TIFF REQUIRED)
find_package(OpenEXR CONFIG REQUIRED)

dunsmere_test(image_tests image_files_test.cpp image_layout_test.cpp temporary_files_test.cpp file_bitmaps_test.cpp)
target_link_libraries(image_tests PRIVATE dunsmere_images dunsmere_image_codec_objects)

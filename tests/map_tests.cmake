dunsmere_test(map_tests THREADS map_raster_test.cpp map_texel_test.cpp map_smurl_test.cpp)
target_link_libraries(map_tests PRIVATE dunsmere_map)

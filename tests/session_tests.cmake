# The session library alone: its plug-in folder found beside its own shared
# object, bakes read back in memory, and bakes on several threads in turn.
dunsmere_test(session_tests THREADS session_test.cpp session_layout_test.cpp)
target_link_libraries(session_tests PRIVATE dunsmere_session)
target_compile_definitions(session_tests PRIVATE DUNSMERE_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")
add_dependencies(session_tests Dunsmere)

# The dunsmere command. Its plug-in folder is "plugins" beside it.
if(NOT (TARGET dunsmere_images AND TARGET dunsmere_meshes))
    return()
endif()
find_package(CLI11 CONFIG REQUIRED)

add_library(dunsmere_command STATIC
    ${CMAKE_CURRENT_LIST_DIR}/command.cpp
    ${CMAKE_CURRENT_LIST_DIR}/options.cpp
    ${CMAKE_CURRENT_LIST_DIR}/plugins.cpp
    ${CMAKE_CURRENT_LIST_DIR}/progress.cpp
    ${CMAKE_CURRENT_LIST_DIR}/signals.cpp
    ${CMAKE_CURRENT_LIST_DIR}/standalone_host.cpp)
target_link_libraries(dunsmere_command PUBLIC dunsmere_images dunsmere_meshes dunsmere_host CLI11::CLI11 ${CMAKE_DL_LIBS})

add_executable(dunsmere ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(dunsmere PRIVATE dunsmere_command)
set_target_properties(dunsmere PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin
    INSTALL_RPATH "$ORIGIN")
if(TARGET Dunsmere)
    set_target_properties(Dunsmere PROPERTIES
        LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin/plugins
        INSTALL_RPATH "$ORIGIN/..")
    add_dependencies(dunsmere Dunsmere)
endif()
set_target_properties(dunsmere_hostrt PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# Installed as <prefix>/lib/dunsmere/{dunsmere, libdunsmere_hostrt.so,
# plugins/Dunsmere.dlu} with <prefix>/bin/dunsmere pointing there: the
# command finds its plug-in folder beside its real location.
include(GNUInstallDirs)
set(DUNSMERE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/dunsmere)
install(TARGETS dunsmere RUNTIME DESTINATION ${DUNSMERE_INSTALL_DIR})
install(TARGETS dunsmere_hostrt LIBRARY DESTINATION ${DUNSMERE_INSTALL_DIR})
if(TARGET Dunsmere)
    install(TARGETS Dunsmere LIBRARY DESTINATION ${DUNSMERE_INSTALL_DIR}/plugins)
endif()
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK ../${DUNSMERE_INSTALL_DIR}/dunsmere
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/dunsmere\" SYMBOLIC)")
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/NOTICES.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/dunsmere OPTIONAL)

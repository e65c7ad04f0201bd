# What `make install` puts where (PREFIX and DESTDIR as usual; see the Makefile):
#
#   bin/tunefold, bin/tunefold-render                     the programs
#   <libdir>/tunefold/libmmmpeg32.so                      the decoder library, private to the programs
#   share/tunefold/                                       the program's data: skin, help
#   share/applications/tunefold.desktop                   the desktop entry
#   share/icons/hicolor/<N>x<N>/apps/tunefold.png, share/icons/hicolor/scalable/apps/tunefold.svg
#
# Included by the top-level file after every component has been added, so that the guards below
# see every target the build defines. Every rule belongs to the install component "tunefold": a
# plain install takes all components, and the install test installs this one alone, which keeps
# its staging manifest (install_manifest_tunefold.txt) apart from the install_manifest.txt that
# `make uninstall` reads.
include(GNUInstallDirs)

set(TUNEFOLD_INSTALL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/tunefold)
set(TUNEFOLD_INSTALL_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/tunefold)

# The decoder library is opened at run time by name: next to the program, then in the program's
# ../lib, then through the dynamic loader's own search, which reads the program's RUNPATH. A library
# that only our programs load has no place in the system's library folder, so it goes to a folder of
# its own and every installed program carries a RUNPATH to it, relative to the program itself, so
# that a DESTDIR staging copy or a moved prefix finds its own library and never another one.
# The programs are linked with that RUNPATH already: otherwise CMake pads the build tree's empty
# RUNPATH with ":" to make room for it, and the dynamic loader reads each empty entry as the current
# folder, so a program run from the build tree would load any libasound.so.2 lying where it was
# started. In the build tree the path leads nowhere, and the loader finds the library next door.
file(RELATIVE_PATH tunefold_bin_to_plugins ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBDIR}/tunefold)
# The decoder's loader looks there too, so the program finds it without the dynamic loader's help
# (a sanitizer build intercepts that search).
target_compile_definitions(tunefold_engine PRIVATE TUNEFOLD_PLUGIN_DIR_FROM_BIN="${tunefold_bin_to_plugins}")

foreach(program tunefold tunefold-render)
    if(TARGET ${program})
        set_target_properties(${program} PROPERTIES
            INSTALL_RPATH "$ORIGIN/${tunefold_bin_to_plugins}"
            BUILD_WITH_INSTALL_RPATH ON)
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tunefold)
    endif()
endforeach()

if(TARGET mmmpeg32)
    install(TARGETS mmmpeg32 LIBRARY DESTINATION ${TUNEFOLD_INSTALL_PLUGIN_DIR} COMPONENT tunefold)
endif()

# The program's data. The skin is looked for at configure time and again whenever it appears.
file(GLOB tunefold_skin CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/skin0.bmp)
install(FILES ${tunefold_skin} ${CMAKE_SOURCE_DIR}/resources/help/Tunefold.html
        DESTINATION ${TUNEFOLD_INSTALL_DATA_DIR} COMPONENT tunefold)

install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/tunefold.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tunefold)

foreach(size 16 24 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/hicolor/${size}x${size}/apps/tunefold.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT tunefold)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/tunefold.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT tunefold)

# The build tree mirrors share/tunefold for the help, so that one rule finds it from a program in
# the build tree (<build>/<folder>/program) and from an installed one (<prefix>/bin/program):
# <program's folder>/../share/tunefold/Tunefold.html.
configure_file(${CMAKE_SOURCE_DIR}/resources/help/Tunefold.html
               ${CMAKE_BINARY_DIR}/share/tunefold/Tunefold.html COPYONLY)

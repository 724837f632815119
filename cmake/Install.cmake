# `cmake --install build --prefix ~/.local` (or /usr/local): the program, its
# desktop entry and its icon, where desktop menus look for them.
include(GNUInstallDirs)

install(TARGETS vellumark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/vellumark.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/vellumark.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)

# The scripted-user driver, for checking an installed copy as its users meet
# it. Not part of a plain install: `cmake --install build --component vmk-script`.
install(TARGETS vmk-script RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT vmk-script EXCLUDE_FROM_ALL)

# The command line and its manual page (`man vellumark-batch`).
install(TARGETS vellumark-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/cli/vellumark-batch.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# `cmake --install build --prefix ~/.local` (or /usr/local): the program, its
# desktop entry and its icon, where desktop menus look for them.
include(GNUInstallDirs)

install(TARGETS vellumark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/vellumark.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

set(VMK_ICON ${CMAKE_CURRENT_SOURCE_DIR}/resources/vellumark.png)
if(EXISTS ${VMK_ICON})
  install(FILES ${VMK_ICON} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
else()
  message(WARNING "resources/vellumark.png is missing: the desktop entry will have no icon")
endif()

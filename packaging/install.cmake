# Installing the viewer (cmake --install build --prefix P) and packaging it
# (cpack in the build folder): a Debian package on Linux; on Windows an MSI
# installer (packaging/windows.cmake) and a ZIP for those who want none.

set(CPACK_PACKAGE_VENDOR "The vorandile developers")
if(WIN32)
  include(packaging/windows.cmake)
  install(TARGETS vorandile RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "vorandile-${PROJECT_VERSION}-windows-x86_64")
else()
  include(GNUInstallDirs)

  # The icon theme's files, drawn from the same picture as the window's icon.
  add_executable(write-icons packaging/write_icons.cpp packaging/png.cpp packaging/ico.cpp platform/x11/icon.cpp)
  target_include_directories(write-icons PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_options(write-icons PRIVATE ${VORANDILE_WARNINGS})
  set(VORANDILE_ICON_SIZES 16 32 48 64 128 256)
  set(VORANDILE_ICONS ${CMAKE_BINARY_DIR}/icons)
  set(icon_files)
  foreach(size ${VORANDILE_ICON_SIZES})
    list(APPEND icon_files ${VORANDILE_ICONS}/${size}x${size}/apps/vorandile.png)
  endforeach()
  add_custom_command(OUTPUT ${icon_files}
    COMMAND write-icons ${VORANDILE_ICONS} ${VORANDILE_ICON_SIZES}
    DEPENDS write-icons
    COMMENT "Drawing the application icon")
  add_custom_target(icons ALL DEPENDS ${icon_files})

  install(TARGETS vorandile RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES packaging/vorandile.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(DIRECTORY ${VORANDILE_ICONS}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  # What the program links, as dpkg-shlibdeps finds it: never named by hand.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

set(CPACK_PACKAGE_NAME vorandile)
set(CPACK_PACKAGE_CONTACT "The vorandile developers <vorandile@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "One window shows a built-in, lit, 26-sided cylinder that spins on its own. Turn it with the mouse like a ball; f toggles fog, p wireframe, Esc quits.")
set(CPACK_STRIP_FILES ON)
include(CPack)

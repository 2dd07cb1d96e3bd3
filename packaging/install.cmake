# Installing the viewer (cmake --install build --prefix P) and packaging it
# (cpack in the build folder): a Debian package on Linux; on Windows an MSI
# installer (packaging/windows.cmake) and a ZIP for those who want none.

set(CPACK_PACKAGE_VENDOR "The vorandile authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
if(WIN32)
  include(packaging/windows.cmake)
  install(TARGETS vorandile RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
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

  # The manual page and the changelog compressed as Debian has them, without
  # a time stamp, so that the package is the same from build to build.
  set(compressed ${CMAKE_BINARY_DIR}/packaging-files)
  add_custom_command(OUTPUT ${compressed}/vorandile.1.gz ${compressed}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${compressed}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/vorandile.1 > ${compressed}/vorandile.1.gz
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${compressed}/changelog.gz
    DEPENDS packaging/vorandile.1 packaging/changelog
    COMMENT "Compressing the manual page and the changelog")
  add_custom_target(compressed-docs ALL DEPENDS ${compressed}/vorandile.1.gz ${compressed}/changelog.gz)

  set(VORANDILE_HOMEPAGE "https://vorandile.org" CACHE STRING "The project's web site, for software centres")
  configure_file(packaging/vorandile.metainfo.xml.in ${CMAKE_BINARY_DIR}/${VORANDILE_APP_ID}.metainfo.xml @ONLY)

  install(TARGETS vorandile RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES packaging/vorandile.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    RENAME ${VORANDILE_APP_ID}.desktop)
  install(FILES ${CMAKE_BINARY_DIR}/${VORANDILE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY ${VORANDILE_ICONS}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  install(FILES ${compressed}/vorandile.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md packaging/copyright ${compressed}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Debian's hardening: symbols bound at start-up, so the relocations can be
  # read-only.
  if(NOT VORANDILE_SANITIZE)
    target_link_options(vorandile PRIVATE -Wl,-z,relro,-z,now)
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VORANDILE_HOMEPAGE})
  # A synopsis without an article and lines that fit Debian's tools.
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive OpenGL viewer of a lit, spinning cylinder")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "One window shows a built-in, lit, 26-sided cylinder that spins on its own
from the first frame. Turn it with the mouse like a ball; let go while
moving and it keeps spinning, click to stop it. The f key toggles fog,
p wireframe, and Esc quits.
.
The viewer is a small fixed-function OpenGL program; it runs as a native
client of a Wayland compositor, or on an X display with GLX.")
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  # What the program links, as dpkg-shlibdeps finds it: never named by hand.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Loaded at run time, where a compositor draws no decorations of its own:
  # without it a window there has no title bar.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libdecor-0-plugin-1-cairo")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

set(CPACK_PACKAGE_NAME vorandile)
set(CPACK_PACKAGE_CONTACT "The vorandile authors <vorandile@localhost>")
set(CPACK_PACKAGE_DESCRIPTION
  "One window shows a built-in, lit, 26-sided cylinder that spins on its own. Turn it with the mouse like a ball; f toggles fog, p wireframe, Esc quits.")
set(CPACK_STRIP_FILES ON)
include(CPack)

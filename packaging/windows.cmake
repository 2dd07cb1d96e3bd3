# The Windows program's resources (icon, version information, manifest) and
# its installer, an MSI built by wixl. Included from install.cmake.

# The icon is drawn by the same code as the Linux icon theme's files, so the
# tool that writes it runs on the build machine: it is built with the host's
# compiler, not the cross compiler.
find_program(VORANDILE_HOST_CXX NAMES c++ g++)
if(NOT VORANDILE_HOST_CXX)
  message(FATAL_ERROR "No host C++ compiler to draw the icon with: install g++ (./test.sh does)")
endif()
set(icon_tool_sources ${PROJECT_SOURCE_DIR}/packaging/write_icons.cpp ${PROJECT_SOURCE_DIR}/packaging/png.cpp
  ${PROJECT_SOURCE_DIR}/packaging/ico.cpp ${PROJECT_SOURCE_DIR}/platform/x11/icon.cpp)
set(icon_tool ${CMAKE_BINARY_DIR}/host/write-icons)
add_custom_command(OUTPUT ${icon_tool}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
  COMMAND ${VORANDILE_HOST_CXX} -std=c++17 -O2 ${VORANDILE_WARNINGS} -I${PROJECT_SOURCE_DIR}
          ${icon_tool_sources} -o ${icon_tool}
  DEPENDS ${icon_tool_sources} ${PROJECT_SOURCE_DIR}/packaging/ico.h ${PROJECT_SOURCE_DIR}/packaging/png.h
          ${PROJECT_SOURCE_DIR}/platform/x11/icon.h
  COMMENT "Building the icon writer for the build machine")

# Sizes that Explorer and the taskbar ask for at 100 to 200 percent scaling.
set(VORANDILE_ICO_SIZES 16 20 24 32 40 48 64 128 256)
set(VORANDILE_ICO ${CMAKE_BINARY_DIR}/vorandile.ico)
add_custom_command(OUTPUT ${VORANDILE_ICO}
  COMMAND ${icon_tool} --ico ${VORANDILE_ICO} ${VORANDILE_ICO_SIZES}
  DEPENDS ${icon_tool}
  COMMENT "Drawing the application icon")

set(VORANDILE_MANIFEST ${CMAKE_BINARY_DIR}/vorandile.manifest)
configure_file(packaging/vorandile.manifest.in ${VORANDILE_MANIFEST} @ONLY)
configure_file(packaging/vorandile.rc.in ${CMAKE_BINARY_DIR}/vorandile.rc @ONLY)
enable_language(RC)
target_sources(vorandile PRIVATE ${CMAKE_BINARY_DIR}/vorandile.rc)
set_source_files_properties(${CMAKE_BINARY_DIR}/vorandile.rc PROPERTIES
  OBJECT_DEPENDS "${VORANDILE_ICO};${VORANDILE_MANIFEST}")

# The installer holds the stripped program, as the ZIP does.
find_program(VORANDILE_WIXL wixl)
if(NOT VORANDILE_WIXL)
  message(STATUS "wixl not found: the Windows installer is not built (./test.sh installs it)")
  return()
endif()
set(staging ${CMAKE_BINARY_DIR}/installer)
set(VORANDILE_MSI ${CMAKE_BINARY_DIR}/vorandile-${PROJECT_VERSION}-windows-x86_64.msi)
configure_file(packaging/vorandile.wxs.in ${staging}/vorandile.wxs @ONLY)
# wixl takes only relative source paths.
add_custom_command(OUTPUT ${VORANDILE_MSI}
  COMMAND ${CMAKE_STRIP} -o ${staging}/vorandile.exe $<TARGET_FILE:vorandile>
  COMMAND ${CMAKE_COMMAND} -E copy ${VORANDILE_ICO} ${PROJECT_SOURCE_DIR}/README.md ${staging}
  COMMAND ${VORANDILE_WIXL} --arch x64 -o ${VORANDILE_MSI} vorandile.wxs
  WORKING_DIRECTORY ${staging}
  DEPENDS vorandile ${VORANDILE_ICO} ${staging}/vorandile.wxs ${PROJECT_SOURCE_DIR}/README.md
  COMMENT "Building the Windows installer")
add_custom_target(installer ALL DEPENDS ${VORANDILE_MSI})

# Native Wayland clients of the tests and benchmarks: wayland-client,
# wayland-egl and EGL through pkg-config, and the client code of protocols
# generated at build time by wayland-scanner. WAYLAND_CLIENTS_FOUND says
# whether all of it is there.
find_package(PkgConfig QUIET)
set(WAYLAND_CLIENTS_FOUND FALSE)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(WAYLAND_CLIENT QUIET IMPORTED_TARGET wayland-client)
  pkg_check_modules(WAYLAND_EGL QUIET IMPORTED_TARGET wayland-egl egl)
  pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
  if(WAYLAND_CLIENT_FOUND AND WAYLAND_EGL_FOUND AND WAYLAND_SCANNER)
    set(WAYLAND_CLIENTS_FOUND TRUE)
  endif()
endif()

# Adds the client header and glue code of the protocol in `xml` to
# `target`, generated into the build tree as NAME-client-protocol.h.
function(add_wayland_client_protocol target xml name)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-protocols)
  add_custom_command(OUTPUT ${dir}/${name}-client-protocol.h ${dir}/${name}-protocol.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${dir}/${name}-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${dir}/${name}-protocol.c
    DEPENDS ${xml} VERBATIM)
  target_sources(${target} PRIVATE ${dir}/${name}-client-protocol.h ${dir}/${name}-protocol.c)
  target_include_directories(${target} PRIVATE ${dir})
endfunction()

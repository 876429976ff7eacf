# The X11 and Wayland clipboards (src/clipboard), Linux's default.

# libxcb and its libXau and libXdmcp from their static archives, as the codecs.
pkg_check_modules(XCB REQUIRED xcb)
cliptint_prefer_static(XCB_LIBRARIES XCB)
target_include_directories(cliptint_core PRIVATE ${XCB_INCLUDE_DIRS})
target_link_libraries(cliptint_core PUBLIC ${XCB_LIBRARIES})

# Wayland clipboard: libwayland-client, opened at run time by the backend
# (src/clipboard/wayland_library.hpp), so that its headers are all that is used here; and the
# protocols turned into C bindings at build time: the data-control ones from protocols/, and the
# interfaces of the core protocol from libwayland's own wayland.xml, which the library would
# otherwise supply at link time.
pkg_check_modules(WAYLAND_CLIENT REQUIRED wayland-client)
pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
if(NOT WAYLAND_SCANNER)
  find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
endif()
pkg_get_variable(WAYLAND_PROTOCOL_DIR wayland-scanner pkgdatadir)
find_file(WAYLAND_CORE_XML wayland.xml HINTS ${WAYLAND_PROTOCOL_DIR} PATH_SUFFIXES wayland
          REQUIRED)
set(WAYLAND_GENERATED_DIR ${CMAKE_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${WAYLAND_GENERATED_DIR})
set(WAYLAND_SERVER_HEADERS)
foreach(protocol ext-data-control-v1 wlr-data-control-unstable-v1)
  set(xml ${CMAKE_SOURCE_DIR}/protocols/${protocol}.xml)
  set(header ${WAYLAND_GENERATED_DIR}/${protocol}-client-protocol.h)
  set(code ${WAYLAND_GENERATED_DIR}/${protocol}-protocol.c)
  # The tests' own compositor speaks the server side.
  set(server_header ${WAYLAND_GENERATED_DIR}/${protocol}-server-protocol.h)
  add_custom_command(OUTPUT ${header} ${code} ${server_header}
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${header}
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${code}
    COMMAND ${WAYLAND_SCANNER} server-header ${xml} ${server_header}
    DEPENDS ${xml}
    COMMENT "Generating the ${protocol} bindings")
  target_sources(cliptint_core PRIVATE ${header} ${code})
  list(APPEND WAYLAND_SERVER_HEADERS ${server_header})
endforeach()
set(WAYLAND_CORE_CODE ${WAYLAND_GENERATED_DIR}/wayland-core-protocol.c)
add_custom_command(OUTPUT ${WAYLAND_CORE_CODE}
  COMMAND ${WAYLAND_SCANNER} private-code ${WAYLAND_CORE_XML} ${WAYLAND_CORE_CODE}
  DEPENDS ${WAYLAND_CORE_XML}
  COMMENT "Generating the core Wayland protocol's interfaces")
target_sources(cliptint_core PRIVATE ${WAYLAND_CORE_CODE})
add_custom_target(wayland_server_headers DEPENDS ${WAYLAND_SERVER_HEADERS})
target_include_directories(cliptint_core PRIVATE ${WAYLAND_GENERATED_DIR}
                                                 ${WAYLAND_CLIENT_INCLUDE_DIRS})

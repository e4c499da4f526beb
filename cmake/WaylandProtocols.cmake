# Wayland protocols from plasma-wayland-protocols, for KWin's window placement
# (the app) and KWin's fake input (the tests). Sets VELMORA_WAYLAND_PROTOCOLS
# when wayland-client, the protocol files and wayland-scanner are all there.
if(UNIX AND NOT APPLE)
    find_package(PlasmaWaylandProtocols QUIET)
    pkg_check_modules(WAYLAND_CLIENT QUIET IMPORTED_TARGET wayland-client)
    find_program(WAYLAND_SCANNER wayland-scanner)
    # The staging protocols (ext-idle-notify) come from wayland-protocols.
    pkg_check_modules(WAYLAND_PROTOCOLS QUIET wayland-protocols)
    if(WAYLAND_PROTOCOLS_FOUND)
        pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
    endif()
endif()
set(VELMORA_WAYLAND_PROTOCOLS OFF)
if(PlasmaWaylandProtocols_FOUND AND WAYLAND_CLIENT_FOUND AND WAYLAND_SCANNER)
    set(VELMORA_WAYLAND_PROTOCOLS ON)
endif()

# velmora_wayland_protocol(NAME OUT_VAR [XML]): the client header and code of
# XML (default ${PLASMA_WAYLAND_PROTOCOLS_DIR}/NAME.xml), generated into the
# current binary folder's wayland/; OUT_VAR receives both files.
function(velmora_wayland_protocol name out_var)
    set(protocol ${PLASMA_WAYLAND_PROTOCOLS_DIR}/${name}.xml)
    if(ARGC GREATER 2)
        set(protocol ${ARGV2})
    endif()
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/wayland)
    file(MAKE_DIRECTORY ${generated})
    set(header ${generated}/wayland-${name}-client-protocol.h)
    set(code ${generated}/wayland-${name}-protocol.c)
    add_custom_command(
        OUTPUT ${header} ${code}
        COMMAND ${WAYLAND_SCANNER} client-header ${protocol} ${header}
        COMMAND ${WAYLAND_SCANNER} private-code ${protocol} ${code}
        DEPENDS ${protocol})
    set(${out_var} ${header} ${code} PARENT_SCOPE)
endfunction()

# Debian packages, one per install component (cmake/install.cmake): configure with -DCMAKE_INSTALL_PREFIX=/usr,
# build, then `cpack -G DEB` in the build directory. tools/test-package.sh builds, installs and tests them.
set(KORVEL_PACKAGE_MAINTAINER "Korvel Control maintainers <korvel-control@velmora.com>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvel-control)
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KORVEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://velmora.com/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${KORVEL_PACKAGE_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE korvel-control)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from the binaries (dpkg-shlibdeps); only what is loaded at run time is named below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-checks.cmake)
set(CPACK_KORVEL_CONFIGURED_PREFIX ${CMAKE_INSTALL_PREFIX})

set(CPACK_DEBIAN_KORVEL-CONTROL_PACKAGE_NAME korvel-control)
set(CPACK_DEBIAN_KORVEL-CONTROL_DESCRIPTION "bridge between a Korvel broadcast console and studio software
Korvel Control keeps one Korvel broadcast mixing console, attached by USB,
connected to the rest of the studio. It lives in the system tray and offers
the console's controls, state and level meters to other programs over a JSON
WebSocket server, and its raw reports over a UDP bridge.

The package's udev rule lets the user logged in at the seat open the console.")
set(CPACK_DEBIAN_KORVEL-CONTROL_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/resources/debian/postinst ${PROJECT_SOURCE_DIR}/resources/debian/postrm)

set(CPACK_DEBIAN_KORVEL-CONTROL-EMULATED_PACKAGE_NAME korvel-control-emulated)
set(CPACK_DEBIAN_KORVEL-CONTROL-EMULATED_DESCRIPTION "Korvel Control on an emulated console
The Korvel Control tray application, with its WebSocket server and UDP bridge,
running on an emulated Korvel broadcast console instead of a USB one, with a
front-panel window to operate it. For developing and testing studio software
without a console, and for demonstrations.")
# The front panel draws its LEDs from SVG images, which Qt reads through a plugin that no binary links.
set(CPACK_DEBIAN_KORVEL-CONTROL-EMULATED_PACKAGE_DEPENDS libqt6svg6)

include(CPack)

# Read by cpack before it packs. A Debian package is built from a tree configured for /usr: configured for another
# prefix, the install rules put the udev rule under /etc, where a package must not, and cpack would not say so.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_KORVEL_CONFIGURED_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "Debian packages install under /usr: configure with -DCMAKE_INSTALL_PREFIX=/usr "
                        "(this build is configured for ${CPACK_KORVEL_CONFIGURED_PREFIX})")
endif()

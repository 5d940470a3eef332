# Desktop integration: binaries, menu entry, icon and the udev rule that lets the logged-in user open the console.
include(GNUInstallDirs)

if(TARGET korvel-control)
    install(TARGETS korvel-control RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS korvel-control-emulated RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/korvel-control.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/png/icon_green.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps RENAME korvel-control.png)

# udev reads its rules from /usr/lib/udev/rules.d and /etc/udev/rules.d only.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(_korvel_udev_default "lib/udev/rules.d")
else()
    set(_korvel_udev_default "/etc/udev/rules.d")
endif()
set(KORVEL_UDEV_RULES_DIR "${_korvel_udev_default}" CACHE STRING "Where the console's udev rule is installed")
install(FILES resources/udev/70-korvel-control.rules DESTINATION ${KORVEL_UDEV_RULES_DIR})

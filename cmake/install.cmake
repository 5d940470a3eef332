# What `cmake --install` and the Debian packages install, one component per package: korvel-control (the
# application, its udev rule, menu entry, icons, AppStream data and manual page) and korvel-control-emulated.
include(GNUInstallDirs)

# The release these files describe: the top entry of the package changelog, which must name the project version.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/debian/changelog _korvel_changelog)
list(GET _korvel_changelog 0 _korvel_changelog_top)
if(NOT _korvel_changelog_top MATCHES "^korvel-control \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "resources/debian/changelog starts with \"${_korvel_changelog_top}\": "
                        "add an entry for version ${PROJECT_VERSION}")
endif()
list(FILTER _korvel_changelog INCLUDE REGEX "^ -- .*  [A-Z][a-z][a-z], [0-9][0-9] [A-Z][a-z][a-z] [0-9][0-9][0-9][0-9] ")
list(GET _korvel_changelog 0 _korvel_changelog_date)
string(REGEX MATCH "([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9])" _ "${_korvel_changelog_date}")
set(_korvel_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _korvel_months "${CMAKE_MATCH_2}" _korvel_month)
math(EXPR _korvel_month "${_korvel_month} + 1" OUTPUT_FORMAT DECIMAL)
string(LENGTH "${_korvel_month}" _korvel_month_digits)
if(_korvel_month_digits EQUAL 1)
    set(_korvel_month "0${_korvel_month}")
endif()
set(KORVEL_RELEASE_DATE "${CMAKE_MATCH_3}-${_korvel_month}-${CMAKE_MATCH_1}")

# Generated files: manual pages and the changelog go in compressed without a time stamp, as Debian wants them.
set(_korvel_share ${KORVEL_GENERATED_DIR}/share)
configure_file(${PROJECT_SOURCE_DIR}/resources/metainfo/com.velmora.KorvelControl.metainfo.xml.in
    ${_korvel_share}/com.velmora.KorvelControl.metainfo.xml @ONLY)
function(korvel_gzip source output)
    execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${output} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
foreach(_page korvel-control korvel-control-emulated)
    configure_file(${PROJECT_SOURCE_DIR}/resources/man/${_page}.1.in ${_korvel_share}/${_page}.1 @ONLY)
    korvel_gzip(${_korvel_share}/${_page}.1 ${_korvel_share}/${_page}.1.gz)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog ${_korvel_share}/changelog COPYONLY)
korvel_gzip(${_korvel_share}/changelog ${_korvel_share}/changelog.gz)

# udev reads its rules from /usr/lib/udev/rules.d and /etc/udev/rules.d only.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(_korvel_udev_default "lib/udev/rules.d")
else()
    set(_korvel_udev_default "/etc/udev/rules.d")
endif()
set(KORVEL_UDEV_RULES_DIR "${_korvel_udev_default}" CACHE STRING "Where the console's udev rule is installed")

set(_korvel_icon_sizes 16 22 24 32 48 64 128 256)

# The menu entry, icons, manual page and package documents of one program; the emulated one shows the same icon.
function(korvel_install_desktop_files program component)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/${program}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${component})
    foreach(size IN LISTS _korvel_icon_sizes)
        install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/korvel-control-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${program}.png COMPONENT ${component})
    endforeach()
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/korvel-control.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${program}.svg COMPONENT ${component})
    install(FILES ${_korvel_share}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
    install(FILES ${_korvel_share}/changelog.gz ${PROJECT_SOURCE_DIR}/resources/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${program} COMPONENT ${component})
endfunction()

set(KORVEL_PACKAGE_COMPONENTS "")
if(TARGET korvel-control)
    install(TARGETS korvel-control RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT korvel-control)
    korvel_install_desktop_files(korvel-control korvel-control)
    install(FILES ${_korvel_share}/com.velmora.KorvelControl.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT korvel-control)
    install(FILES ${KORVEL_GENERATED_DIR}/udev/70-korvel-control.rules
        DESTINATION ${KORVEL_UDEV_RULES_DIR} COMPONENT korvel-control)
    list(APPEND KORVEL_PACKAGE_COMPONENTS korvel-control)
endif()
install(TARGETS korvel-control-emulated RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT korvel-control-emulated)
korvel_install_desktop_files(korvel-control-emulated korvel-control-emulated)
list(APPEND KORVEL_PACKAGE_COMPONENTS korvel-control-emulated)

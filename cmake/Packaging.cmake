# Manual pages made from each program's --help, and a Debian package of the installed files.

find_program(HELP2MAN help2man)
set(_manpages)
if(HELP2MAN)
    set(_programs skywatch-decode skywatch-sim)
    foreach(_optional skywatch skywatch-exporter)
        if(TARGET ${_optional})
            list(APPEND _programs ${_optional})
        endif()
    endforeach()
    set(_summary_skywatch "status monitor for a GPS receiver")
    set(_summary_skywatch-decode "decode NMEA 0183 into the skywatch fix record")
    set(_summary_skywatch-sim "simulated NMEA receiver for trying skywatch without one")
    set(_summary_skywatch-exporter "GPS receivers' status as Prometheus metrics")
    foreach(_program IN LISTS _programs)
        set(_page ${CMAKE_BINARY_DIR}/man/${_program}.1.gz)
        add_custom_command(OUTPUT ${_page}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                    ${HELP2MAN} --no-info --no-discard-stderr
                    --version-string=${PROJECT_VERSION}
                    --name=${_summary_${_program}}
                    --output=${CMAKE_BINARY_DIR}/man/${_program}.1
                    $<TARGET_FILE:${_program}>
            COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/man/${_program}.1
            DEPENDS ${_program}
            COMMENT "Manual page for ${_program}"
            VERBATIM)
        list(APPEND _manpages ${_page})
    endforeach()
    add_custom_target(manpages ALL DEPENDS ${_manpages})
    install(FILES ${_manpages} DESTINATION share/man/man1)
else()
    message(STATUS "help2man not found: no manual pages")
endif()

# What Debian's package checker asks of every package: the copyright file in its
# machine-readable form, the changelog (compressed), and AppStream data for software centres.
set(_doc share/doc/skywatch)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${_doc})
set(_changelog ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${_changelog}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${_changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(changelog ALL DEPENDS ${_changelog})
install(FILES ${_changelog} DESTINATION ${_doc})
if(TARGET skywatch)
    install(FILES ${PROJECT_SOURCE_DIR}/res/skywatch.metainfo.xml
            DESTINATION share/metainfo RENAME io.github.skywatch.Skywatch.metainfo.xml)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skywatch)
set(CPACK_PACKAGE_VENDOR "Skywatch developers")
set(SKYWATCH_MAINTAINER "Skywatch maintainers <maintainers@users.noreply.c-seed-8a292952.example>"
    CACHE STRING "The package's Maintainer field")
set(CPACK_PACKAGE_CONTACT "${SKYWATCH_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "status monitor for a GPS receiver")
# Debian wants the long description in lines of 80 characters at most.
set(CPACK_PACKAGE_DESCRIPTION "Shows the position, time and satellites of a GPS receiver that
speaks NMEA 0183 on a serial line, through gpsd, or over TCP or UDP, with a
sky view of the satellites in view.
Includes a simulated receiver, a command-line decoder and an exporter of
receivers' status as Prometheus metrics.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gpsd)
set(CPACK_STRIP_FILES ON)
include(CPack)

# Manual pages made from each program's --help, and a Debian package of the installed files.

find_program(HELP2MAN help2man)
set(_manpages)
if(HELP2MAN)
    set(_programs skywatch-decode skywatch-sim)
    if(TARGET skywatch)
        list(APPEND _programs skywatch)
    endif()
    set(_summary_skywatch "status monitor for a GPS receiver")
    set(_summary_skywatch-decode "decode NMEA 0183 into the skywatch fix record")
    set(_summary_skywatch-sim "simulated NMEA receiver for trying skywatch without one")
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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skywatch)
set(CPACK_PACKAGE_VENDOR "Skywatch developers")
set(CPACK_PACKAGE_CONTACT "Skywatch developers <skywatch@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "status monitor for a GPS receiver")
set(CPACK_PACKAGE_DESCRIPTION "Shows the position, time and satellites of a GPS receiver \
that speaks NMEA 0183 on a serial line, through gpsd, or over TCP or UDP, with a sky view of \
the satellites in view.\nIncludes a simulated receiver and a command-line decoder.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gpsd)
set(CPACK_STRIP_FILES ON)
include(CPack)

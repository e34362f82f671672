# Installation for a Linux desktop and the Debian package of the three programs.
# Each program's folder installs its own executable; this adds what makes the desktop program
# appear in the desktop's menu (its desktop entry and its icon at the usual sizes), the
# starter files of its working folder, the manual pages and the documentation.

include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/app/fieldkit.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Drawn at build time by app/ (target fieldkit_icons) as <n>x<n>/apps/fieldkit.png.
install(DIRECTORY ${PROJECT_BINARY_DIR}/app/icons/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

# The starter Info.txt and AppConfig.ini that fieldkit copies into a new working folder. The
# program looks for them in share/fieldkit beside its bin folder; the build tree gets the same
# layout, so that build/<preset>/app/fieldkit finds them too. They are not read from
# /usr/share/doc, which an installation may leave out.
set(FIELDKIT_STARTER_FILES ${PROJECT_SOURCE_DIR}/examples/Info.txt ${PROJECT_SOURCE_DIR}/examples/AppConfig.ini)
foreach(file IN LISTS FIELDKIT_STARTER_FILES)
  get_filename_component(name ${file} NAME)
  configure_file(${file} ${PROJECT_BINARY_DIR}/share/fieldkit/${name} COPYONLY)
endforeach()
install(FILES ${FIELDKIT_STARTER_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/fieldkit)

include(${CMAKE_CURRENT_LIST_DIR}/manpages.cmake)

# /usr/share/doc/fieldkit: the README, the examples (a working folder with sample firmware, for
# trying --simulate at once), the copyright file and the changelog, compressed as Debian wants.
set(FIELDKIT_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/fieldkit)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${FIELDKIT_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/examples/Info.txt ${PROJECT_SOURCE_DIR}/examples/AppConfig.ini
              ${PROJECT_SOURCE_DIR}/examples/corvo_boot.s19 ${PROJECT_SOURCE_DIR}/examples/corvo_fwapp.s19
        DESTINATION ${FIELDKIT_DOCDIR}/examples)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/packaging/changelog
  COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/packaging/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  COMMENT "Compressing the changelog"
  VERBATIM)
add_custom_target(fieldkit_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${FIELDKIT_DOCDIR})

set(CPACK_PACKAGE_NAME fieldkit)
set(CPACK_PACKAGE_VENDOR "Open Field Radio")
set(CPACK_PACKAGE_CONTACT "FieldKit maintainers <maintainers@fieldkit.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines of at most 80 characters, as the package tools show them.
set(CPACK_PACKAGE_DESCRIPTION
    "Upgrades the firmware of a Lodestar option board, the trunking board inside
a two-way radio, through the radio's programming cable on a serial port, and
reads the board's firmware version and ESN. Contains the desktop program
fieldkit, the command line fieldkit-cli and the board emulator lodestar-sim.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://fieldkit.invalid")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The shared libraries the programs link (Qt Widgets, Qt SerialPort, the C++ runtime) become
# dependencies as dpkg-shlibdeps finds them; the X11 platform plugin comes with libqt6gui6.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)

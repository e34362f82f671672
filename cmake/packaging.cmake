# Installation for a Linux desktop and the Debian package of the three programs.
# Each program's folder installs its own executable; this adds what makes the desktop program
# appear in the desktop's menu: its desktop entry and its icon at the usual sizes.

include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/app/fieldkit.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Drawn at build time by app/ (target fieldkit_icons) as <n>x<n>/apps/fieldkit.png.
install(DIRECTORY ${PROJECT_BINARY_DIR}/app/icons/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

set(CPACK_PACKAGE_NAME fieldkit)
set(CPACK_PACKAGE_VENDOR "FieldKit")
set(CPACK_PACKAGE_CONTACT "FieldKit maintainers <maintainers@fieldkit.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Upgrades the firmware of a Lodestar option board, the trunking board inside a two-way
radio, through the radio's programming cable on a serial port, and reads the board's
firmware version and ESN. Contains the desktop program fieldkit, the command line
fieldkit-cli and the board emulator lodestar-sim.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://fieldkit.invalid")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The shared libraries the programs link (Qt Widgets, Qt SerialPort, the C++ runtime) become
# dependencies as dpkg-shlibdeps finds them; the X11 platform plugin comes with libqt6gui6.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)

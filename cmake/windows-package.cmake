# The Windows packages, made by `cpack` in build/windows:
# - fieldkit-<version>-win64.zip: the programs, the read-me for Windows and the example folder
#   (sample firmware, settings file, Info.txt), all under one folder;
# - fieldkit-<version>-win64-setup.exe (with Debian's nsis): installs the same under
#   Program Files\FieldKit, with a Start menu shortcut that starts the desktop program in
#   Documents\FieldKit and an uninstaller in Windows' list of installed programs.

install(FILES ${PROJECT_SOURCE_DIR}/packaging/README-Windows.txt DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples DESTINATION . PATTERN "*.bin" EXCLUDE PATTERN "*.new" EXCLUDE)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME fieldkit)
set(CPACK_PACKAGE_VENDOR "FieldKit")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME fieldkit-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)

find_program(FIELDKIT_MAKENSIS makensis NO_CMAKE_FIND_ROOT_PATH)
if(FIELDKIT_MAKENSIS AND TARGET fieldkit)
  list(APPEND CPACK_GENERATOR NSIS)
  set(CPACK_NSIS_EXECUTABLE ${FIELDKIT_MAKENSIS})
  # A 64-bit installer: it runs where the programs run, and writes the 64-bit registry.
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_PACKAGE_NAME "FieldKit")
  set(CPACK_NSIS_DISPLAY_NAME "FieldKit ${PROJECT_VERSION}")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY "FieldKit")
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "FieldKit")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
  set(CPACK_NSIS_INSTALLED_ICON_NAME "fieldkit.exe")
  set(CPACK_NSIS_MUI_ICON ${PROJECT_BINARY_DIR}/app/fieldkit.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_BINARY_DIR}/app/fieldkit.ico)
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
  set(CPACK_NSIS_URL_INFO_ABOUT "https://fieldkit.invalid")
  # The Start menu shortcut starts the desktop program in Documents\FieldKit, made on first
  # start with the starter files.
  set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\FieldKit.lnk' '$INSTDIR\\\\fieldkit.exe' '--work-folder'")
  set(CPACK_NSIS_DELETE_ICONS_EXTRA "Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\FieldKit.lnk'")
  # The zip and the installer differ in name only by -setup.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/windows-cpack-options.cmake.in
    ${PROJECT_BINARY_DIR}/windows-cpack-options.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/windows-cpack-options.cmake)
endif()
include(CPack)

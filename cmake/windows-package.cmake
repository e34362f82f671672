# The Windows package: `cpack` in build/windows makes fieldkit-<version>-win64.zip with
# fieldkit-cli.exe, the read-me for Windows and the example folder (sample firmware, settings
# file, Info.txt), all under one folder.

install(FILES ${PROJECT_SOURCE_DIR}/packaging/README-Windows.txt DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples DESTINATION . PATTERN "*.bin" EXCLUDE PATTERN "*.new" EXCLUDE)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME fieldkit)
set(CPACK_PACKAGE_VENDOR "FieldKit")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME fieldkit-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)

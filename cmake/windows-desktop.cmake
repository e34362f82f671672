# fieldkit.exe as Windows users expect a desktop program: no console window, the program's
# icon, a version resource for Explorer's Properties, a manifest, the native style, and the
# starter files beside it. Included by app/CMakeLists.txt in the Windows build.

set_target_properties(fieldkit PROPERTIES WIN32_EXECUTABLE ON)
install(TARGETS fieldkit RUNTIME DESTINATION .) # beside fieldkit-cli.exe and the read-me

# The icon is drawn by the same code as on Linux, run under Wine in the tests' prefix, and
# packed into one .ico by ImageMagick.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(FATAL_ERROR "Wine is needed to draw the program icon: install wine64 (scripts/install-deps.sh)")
endif()
find_program(FIELDKIT_IMAGEMAGICK_CONVERT convert REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set_target_properties(fieldkit_render_icons PROPERTIES CROSSCOMPILING_EMULATOR
  "env;WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;${CMAKE_CROSSCOMPILING_EMULATOR}")
set(FIELDKIT_ICO ${CMAKE_CURRENT_BINARY_DIR}/fieldkit.ico)
add_custom_command(OUTPUT ${FIELDKIT_ICO}
  COMMAND ${FIELDKIT_IMAGEMAGICK_CONVERT} ${icon_files} ${FIELDKIT_ICO}
  DEPENDS ${icon_files}
  COMMENT "Packing the program icon for Windows")

# The four parts of a Windows file version; the fourth is always 0.
set(FIELDKIT_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/fieldkit.exe.manifest.in ${CMAKE_CURRENT_BINARY_DIR}/fieldkit.exe.manifest @ONLY)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/fieldkit.rc.in ${CMAKE_CURRENT_BINARY_DIR}/fieldkit.rc @ONLY)
target_sources(fieldkit PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/fieldkit.rc)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/fieldkit.rc PROPERTIES
  OBJECT_DEPENDS "${FIELDKIT_ICO};${CMAKE_CURRENT_BINARY_DIR}/fieldkit.exe.manifest")

# Qt is static: the plugins the program needs are linked in by name. The native platform and
# the native style; the tests add the offscreen platform.
qt_import_plugins(fieldkit INCLUDE Qt6::QWindowsIntegrationPlugin Qt6::QWindowsVistaStylePlugin)

# The starter files of a new working folder, where fieldkit.exe looks for them: the examples
# folder beside it, in the build tree as in the zip and the installation.
foreach(file Info.txt AppConfig.ini)
  configure_file(${PROJECT_SOURCE_DIR}/examples/${file} ${CMAKE_CURRENT_BINARY_DIR}/examples/${file} COPYONLY)
endforeach()

# What the Windows cross build (cmake/mingw-w64-x86_64.cmake) takes from the build machine:
# CLI11 and nlohmann-json, which are headers only, libgcrypt built for Windows (Debian
# libgcrypt-mingw-w64-dev), libpq (cmake/windows-libpq.cmake), GoogleTest, built here from
# Debian's sources, and for the desktop program the static Qt that scripts/build-qt-windows.sh
# builds.

if(FIELDKIT_BUILD_DESKTOP)
  # The script names its cache folder from Qt's version and its options, so a Qt built with
  # other options is never taken. FIELDKIT_QT_WINDOWS_PREFIX may name another static Qt.
  if(NOT FIELDKIT_QT_WINDOWS_PREFIX)
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/build-qt-windows.sh --print-prefix
      OUTPUT_VARIABLE FIELDKIT_QT_WINDOWS_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    if(NOT EXISTS ${FIELDKIT_QT_WINDOWS_PREFIX}/fieldkit-build-complete)
      message(FATAL_ERROR "Qt for Windows is not built yet (${FIELDKIT_QT_WINDOWS_PREFIX}): "
        "run scripts/build-qt-windows.sh first (about half an hour)")
    endif()
  endif()
  message(STATUS "Qt for Windows: ${FIELDKIT_QT_WINDOWS_PREFIX}")
  list(APPEND CMAKE_FIND_ROOT_PATH ${FIELDKIT_QT_WINDOWS_PREFIX})
  # moc, rcc and uic of the build machine's Qt of the same version.
  set(QT_HOST_PATH /usr CACHE PATH "The build machine's Qt, whose tools the cross build runs")
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Its CMake packages")
endif()

# A header-only library of the build machine through a folder of its own, so that no other
# header of its /usr/include comes along into the Windows build.
function(fieldkit_header_view target folder probe package)
  find_path(include_dir ${folder}/${probe} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH NO_CACHE)
  if(NOT include_dir)
    message(FATAL_ERROR "${folder}/${probe} not found: install ${package} (scripts/install-deps.sh)")
  endif()
  set(view ${CMAKE_BINARY_DIR}/${folder}-include)
  file(MAKE_DIRECTORY ${view})
  file(CREATE_LINK ${include_dir}/${folder} ${view}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} SYSTEM INTERFACE ${view})
endfunction()

fieldkit_header_view(CLI11::CLI11 CLI CLI.hpp libcli11-dev)
fieldkit_header_view(nlohmann_json::nlohmann_json nlohmann json.hpp nlohmann-json3-dev)

# libgcrypt and the error library it needs, linked statically so fieldkit-cli.exe stays one file.
find_library(FIELDKIT_GCRYPT_LIBRARY libgcrypt.a)
find_library(FIELDKIT_GPG_ERROR_LIBRARY libgpg-error.a)
find_path(FIELDKIT_GCRYPT_INCLUDE gcrypt.h)
if(NOT FIELDKIT_GCRYPT_LIBRARY OR NOT FIELDKIT_GPG_ERROR_LIBRARY OR NOT FIELDKIT_GCRYPT_INCLUDE)
  message(FATAL_ERROR "libgcrypt for Windows not found: install libgcrypt-mingw-w64-dev (scripts/install-deps.sh)")
endif()
add_library(fieldkit_gcrypt INTERFACE IMPORTED)
target_include_directories(fieldkit_gcrypt SYSTEM INTERFACE ${FIELDKIT_GCRYPT_INCLUDE})
target_link_libraries(fieldkit_gcrypt INTERFACE ${FIELDKIT_GCRYPT_LIBRARY} ${FIELDKIT_GPG_ERROR_LIBRARY} ws2_32)

include(${CMAKE_CURRENT_LIST_DIR}/windows-libpq.cmake)

if(FIELDKIT_BUILD_TESTS)
  set(FIELDKIT_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
  if(NOT EXISTS ${FIELDKIT_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${FIELDKIT_GOOGLETEST_SOURCE}: install googletest")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${FIELDKIT_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(target gtest gtest_main gmock gmock_main)
    # Not our code: its warnings are not ours to fix.
    target_compile_options(${target} PRIVATE -w)
    if(NOT TARGET GTest::${target})
      add_library(GTest::${target} ALIAS ${target})
    endif()
  endforeach()
endif()

# What the Windows cross build (cmake/mingw-w64-x86_64.cmake) takes from the build machine:
# CLI11 and nlohmann-json, which are headers only, libgcrypt built for Windows (Debian
# libgcrypt-mingw-w64-dev), and GoogleTest, built here from Debian's sources.

# The CLI11 headers through a folder of their own, so that no other header of the build
# machine's /usr/include comes along into the Windows build.
find_path(FIELDKIT_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
if(NOT FIELDKIT_CLI11_INCLUDE)
  message(FATAL_ERROR "CLI11 headers not found: install libcli11-dev (scripts/install-deps.sh)")
endif()
set(FIELDKIT_CLI11_VIEW ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${FIELDKIT_CLI11_VIEW})
file(CREATE_LINK ${FIELDKIT_CLI11_INCLUDE}/CLI ${FIELDKIT_CLI11_VIEW}/CLI SYMBOLIC)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${FIELDKIT_CLI11_VIEW})

# The JSON headers the same way.
find_path(FIELDKIT_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
if(NOT FIELDKIT_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann-json headers not found: install nlohmann-json3-dev (scripts/install-deps.sh)")
endif()
set(FIELDKIT_JSON_VIEW ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${FIELDKIT_JSON_VIEW})
file(CREATE_LINK ${FIELDKIT_JSON_INCLUDE}/nlohmann ${FIELDKIT_JSON_VIEW}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${FIELDKIT_JSON_VIEW})

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

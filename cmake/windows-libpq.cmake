# libpq for the Windows cross build, which scripts/build-libpq-windows.sh makes from Debian's
# postgresql-15 source in the user's cache folder. Linked statically, with the two helper
# libraries it is made of, so fieldkit-cli.exe stays one file. Built without OpenSSL.
if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(fieldkit_cache $ENV{XDG_CACHE_HOME})
else()
  set(fieldkit_cache $ENV{HOME}/.cache)
endif()
set(FIELDKIT_LIBPQ_WINDOWS ${fieldkit_cache}/fieldkit/libpq-15-windows
    CACHE PATH "libpq cross-built for Windows (scripts/build-libpq-windows.sh)")
if(NOT EXISTS ${FIELDKIT_LIBPQ_WINDOWS}/built)
  message(FATAL_ERROR "libpq for Windows not found in ${FIELDKIT_LIBPQ_WINDOWS}: run scripts/build-libpq-windows.sh")
endif()
add_library(fieldkit_libpq INTERFACE IMPORTED)
target_include_directories(fieldkit_libpq SYSTEM INTERFACE ${FIELDKIT_LIBPQ_WINDOWS}/include)
target_link_libraries(fieldkit_libpq INTERFACE
  ${FIELDKIT_LIBPQ_WINDOWS}/lib/libpq.a ${FIELDKIT_LIBPQ_WINDOWS}/lib/libpgcommon_shlib.a
  ${FIELDKIT_LIBPQ_WINDOWS}/lib/libpgport_shlib.a secur32 ws2_32 shell32 advapi32)

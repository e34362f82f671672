# Manual pages of the three programs, made at build time by help2man from each program's own
# --help, so that they always list the options the program takes, plus a hand-written part
# (packaging/man/<program>.h2m.in) for what --help cannot say: the working folder, the files,
# the COM port mapping and the exit statuses.

find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(NOT HELP2MAN OR NOT GZIP)
  message(WARNING "help2man or gzip not found: the manual pages are not made "
                  "(Debian: apt install help2man)")
  return()
endif()

set(man_sources ${PROJECT_SOURCE_DIR}/packaging/man)
set(man_output ${PROJECT_BINARY_DIR}/man)

# Parts every page shares, laid into each page's hand-written part.
file(READ ${man_sources}/common-ports.h2m COM_PORTS)
file(READ ${man_sources}/common-files.h2m FILES)

# fieldkit-cli's --help names its commands; a wrapper adds the help of each.
file(GENERATE OUTPUT ${man_output}/bin/fieldkit-cli
     INPUT ${man_sources}/fieldkit-cli-help.sh.in
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(fieldkit_man_summary "Lodestar option board firmware upgrade, desktop program")
set(fieldkit-cli_man_summary "Lodestar option board firmware upgrade on a terminal")
set(lodestar-sim_man_summary "Lodestar option board emulator on a pseudo-terminal")
set(fieldkit_man_help $<TARGET_FILE:fieldkit>)
set(fieldkit-cli_man_help ${man_output}/bin/fieldkit-cli)
set(lodestar-sim_man_help $<TARGET_FILE:lodestar-sim>)

set(man_pages)
foreach(program IN ITEMS fieldkit fieldkit-cli lodestar-sim)
  if(NOT TARGET ${program}) # the desktop program, in a build without it
    continue()
  endif()
  configure_file(${man_sources}/${program}.h2m.in ${man_output}/${program}.h2m @ONLY)
  add_custom_command(OUTPUT ${man_output}/${program}.1.gz
    # lodestar-sim's --version is an option of the emulated board, so no program is asked.
    COMMAND ${HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
            --name=${${program}_man_summary} --include=${man_output}/${program}.h2m
            --output=${man_output}/${program}.1 ${${program}_man_help}
    COMMAND ${GZIP} -9nf ${man_output}/${program}.1
    DEPENDS ${program} ${man_output}/${program}.h2m ${man_sources}/fieldkit-cli-help.sh.in
    COMMENT "Manual page of ${program}"
    VERBATIM)
  list(APPEND man_pages ${man_output}/${program}.1.gz)
endforeach()
add_custom_target(fieldkit_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Runs the sample firmware generator into OUT and compares its files with EXAMPLES, and the
# digests it writes with DIGESTS, the header the build uses.
execute_process(COMMAND ${PYTHON} ${GENERATOR} --out-dir ${OUT} --digest-header ${OUT}/sample_firmware.h
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make-sample-firmware.py failed: ${status}")
endif()
foreach(name corvo_boot.s19 corvo_fwapp.s19)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/${name} ${EXAMPLES}/${name} RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "examples/${name} differs from what scripts/make-sample-firmware.py writes")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/sample_firmware.h ${DIGESTS} RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "image/sample_firmware.h differs from what scripts/make-sample-firmware.py writes")
endif()

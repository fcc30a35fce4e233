# cmake -DGROFF=... -DGZIP=... -DPAGE=file.1 -P check_manpage.cmake
# Fails on any warning groff gives for the page, then writes file.1.gz without a time stamp.
execute_process(COMMAND ${GROFF} -man -ww -z -Tutf8 ${PAGE} RESULT_VARIABLE result ERROR_VARIABLE warnings)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "${PAGE}:\n${warnings}")
endif()
execute_process(COMMAND ${GZIP} -9 -n -c ${PAGE} OUTPUT_FILE ${PAGE}.gz RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${PAGE}")
endif()

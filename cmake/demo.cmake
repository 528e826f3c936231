# Makes the sample container, cuts it in a fresh folder and shows the result.
# Expects MAKE_SAMPLE, D88CUT and DEMO_DIR.
file(REMOVE_RECURSE "${DEMO_DIR}")
file(MAKE_DIRECTORY "${DEMO_DIR}/out")
execute_process(COMMAND "${MAKE_SAMPLE}" "${DEMO_DIR}/sample.d88" COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "d88cut ${DEMO_DIR}/sample.d88, in ${DEMO_DIR}/out:")
# The tool speaks Shift_JIS; show it as UTF-8 where iconv is at hand.
find_program(ICONV iconv)
if(ICONV)
  execute_process(COMMAND "${D88CUT}" ../sample.d88 COMMAND "${ICONV}" -f CP932 -t UTF-8
                  WORKING_DIRECTORY "${DEMO_DIR}/out" RESULTS_VARIABLE results)
else()
  execute_process(COMMAND "${D88CUT}" ../sample.d88 WORKING_DIRECTORY "${DEMO_DIR}/out"
                  RESULTS_VARIABLE results)
endif()
list(GET results 0 status)
file(GLOB written RELATIVE "${DEMO_DIR}/out" "${DEMO_DIR}/out/*")
list(LENGTH written count)
message(STATUS "exit status ${status}; ${count} files written:")
foreach(name IN LISTS written)
  file(SIZE "${DEMO_DIR}/out/${name}" size)
  message(STATUS "  ${name}  ${size} bytes")
endforeach()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "d88cut failed")
endif()

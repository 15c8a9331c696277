# Proves that cmake/check_includes.cmake catches an upward include:
#   cmake -DSOURCE_DIR=<src folder> -DWORK_DIR=<scratch folder> -P cmake/check_includes_planted.cmake
# Copies src/ to WORK_DIR, requires the check to pass on the copy, then plants one upward
# include, or one wrong layer line, at a time in a fresh copy of its file and requires the check
# to fail naming it.
cmake_minimum_required(VERSION 3.25)
set(checker ${CMAKE_CURRENT_LIST_DIR}/check_includes.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
file(COPY ${SOURCE_DIR}/ DESTINATION ${WORK_DIR})

function(run_check expect_pass description)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${WORK_DIR} -P ${checker}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expect_pass AND NOT rc EQUAL 0)
    message(FATAL_ERROR "the check fails on the untouched sources:\n${err}")
  elseif(NOT expect_pass AND rc EQUAL 0)
    message(FATAL_ERROR "the check passes with ${description}")
  endif()
  set(check_output "${err}" PARENT_SCOPE)
endfunction()

run_check(TRUE "")

# file | line planted after its first line (the layer line), or | line | first: in its place
set(plants
    "chain/biquad.h|#include \"channel/parameter_channel.h\""
    "suppressor/fft.cpp|#include \"apo/mic_apo.h\""
    "chain/voice_chain.cpp|#include \"engine/block_frame.h\""
    "suppressor/voice_effect.h|#include \"platform/file.h\""
    "chain/gain.h|#include <windows.h>"
    "suppressor/noise_suppressor.cpp|#include <pthread.h>"
    "engine/shared_block.h|#include \"chain/biquad.h\""
    "engine/parameter_block.cpp|#include <sys/mman.h>"
    "channel/diagnostic_log.h|#include \"engine/processing_lifecycle.h\""
    "chain/gain.h|// Layer: platform|first"
    "engine/field_table.h|// Layer: signal|first"
    "apo/mic_apo.cpp|#include \"apo/mic_apo.h\"|first")
foreach(plant IN LISTS plants)
  string(REPLACE "|" ";" parts "${plant}")
  list(GET parts 0 file)
  list(GET parts 1 line)
  list(LENGTH parts fields)
  file(READ ${SOURCE_DIR}/${file} original)
  string(FIND "${original}" "\n" first_end)
  string(SUBSTRING "${original}" 0 ${first_end} head)
  string(SUBSTRING "${original}" ${first_end} -1 rest)
  if(fields EQUAL 3)
    file(WRITE ${WORK_DIR}/${file} "${line}${rest}")
  else()
    file(WRITE ${WORK_DIR}/${file} "${head}\n${line}${rest}")
  endif()
  run_check(FALSE "${line} in ${file}")
  string(FIND "${check_output}" "${file}" named)
  if(named EQUAL -1)
    message(FATAL_ERROR "the failure for ${line} in ${file} does not name the file:\n${check_output}")
  endif()
  file(WRITE ${WORK_DIR}/${file} "${original}")
endforeach()
list(LENGTH plants count)
message(STATUS "each of ${count} planted upward includes and wrong layer lines fails the check")

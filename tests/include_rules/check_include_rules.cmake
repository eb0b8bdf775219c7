cmake_policy(SET CMP0057 NEW) # IN_LIST
# Builds each target of MUST_BUILD and MUST_FAIL in BUILD_DIR and fails when
# one of the first does not compile or one of the second does.
set(failures "")
foreach(target IN LISTS MUST_BUILD MUST_FAIL)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(target IN_LIST MUST_BUILD AND NOT status EQUAL 0)
    list(APPEND failures "${target} should compile but does not:\n${output}")
  elseif(target IN_LIST MUST_FAIL AND status EQUAL 0)
    list(APPEND failures "${target} breaks an include rule but compiles")
  elseif(target IN_LIST MUST_FAIL)
    string(REGEX MATCH "fatal error: [^\n]*" why "${output}")
    message(STATUS "${target}: refused as it must be (${why})")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()

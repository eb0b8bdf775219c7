# tmi_api_names(<var>): the vendor library's 39 function names, in declaration
# order, as the compiler's preprocessor expands the one list in tmi_api.h
# (so nothing here parses the header itself).
function(tmi_api_names out)
  set(header_dir ${PROJECT_SOURCE_DIR}/platform/tmi_api)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/tmi_api_names.cpp)
  file(WRITE ${source} "#include \"tmi_api.h\"\n#define NAME(name, params) name\nTMI_API_FUNCTIONS(NAME)\n")
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -E -P -I${header_dir} ${source}
    OUTPUT_VARIABLE expanded
    RESULT_VARIABLE status
    ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot expand tmi_api.h: ${error}")
  endif()
  separate_arguments(names UNIX_COMMAND "${expanded}")
  list(LENGTH names count)
  if(NOT count EQUAL 39)
    message(FATAL_ERROR "tmi_api.h expands to ${count} names, not 39")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header_dir}/tmi_api.h)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

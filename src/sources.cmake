# The application's source files, for every build that compiles them: the
# program, its test library and the Windows cross-build.
set(RAILMON_APP_SOURCES
  railmon.cpp
  device_lock.cpp
  library_text.cpp
  log_file.cpp
  metrics_export.cpp
  panel_marks.cpp
  protection.cpp
  protection_file.cpp
  remote_control.cpp
  remote_protection.cpp
  remote_server.cpp
  scpi.cpp
  scpi_common.cpp
  status_line.cpp)

# The application's source files, for every build that compiles them: the
# program, its test library and the Windows cross-build.
set(RAILMON_APP_SOURCES
  railmon.cpp
  device_lock.cpp
  library_text.cpp
  log_file.cpp
  metrics_export.cpp
  panel_marks.cpp
  remote_control.cpp
  scpi.cpp
  status_line.cpp)

# cmake -DACTION=start|stop -DWINE=... -DWINESERVER=... -DPREFIX=... -P wine_server.cmake
# start: a wineserver kept for the whole test run (-p), and the Wine prefix
# made on first use or brought up (wineboot: about 10 s the first time, then
# under a second); stop: the server ended (-k).
if(ACTION STREQUAL "start")
  file(MAKE_DIRECTORY ${PREFIX})
  # Into a file: the server lives on and would hold a pipe open for good.
  execute_process(COMMAND ${WINESERVER} -p RESULT_VARIABLE status
                  OUTPUT_FILE ${PREFIX}-server.log ERROR_FILE ${PREFIX}-server.log)
  # 2: one is running for this prefix already, which serves as well.
  if(NOT status EQUAL 0 AND NOT status EQUAL 2)
    message(FATAL_ERROR "wineserver -p failed (${status})")
  endif()
  # Also on a prefix made before: wineboot starts Wine's services, which live
  # as long as the server and keep whatever output they were started with
  # open, so they must not be started by a test whose output CTest reads.
  execute_process(COMMAND ${WINE} wineboot --init RESULT_VARIABLE status
                  OUTPUT_FILE ${PREFIX}-boot.log ERROR_FILE ${PREFIX}-boot.log)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wineboot --init failed (${status})")
  endif()
elseif(ACTION STREQUAL "stop")
  # 1: none was running.
  execute_process(COMMAND ${WINESERVER} -k RESULT_VARIABLE status)
  if(NOT status EQUAL 0 AND NOT status EQUAL 1)
    message(FATAL_ERROR "wineserver -k failed (${status})")
  endif()
  # Waits until it is gone, so nothing outlives the run.
  execute_process(COMMAND ${WINESERVER} -w)
else()
  message(FATAL_ERROR "ACTION must be start or stop")
endif()

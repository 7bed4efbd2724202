# Tests of the reporter's trace, warnings, internal errors, EXCEPT channel and process services.
# crashlog_diag_probe is a small program the tests start to watch those services from outside.
add_executable(crashlog_diag_probe ${CMAKE_CURRENT_LIST_DIR}/diag_probe.cpp)
target_link_libraries(crashlog_diag_probe PRIVATE pelloran_options crashlog_diagnostics)

add_library(crashlog_test_child_process STATIC ${CMAKE_CURRENT_LIST_DIR}/child_process.cpp)
target_link_libraries(crashlog_test_child_process PUBLIC pelloran_options)
target_include_directories(crashlog_test_child_process PUBLIC ${PROJECT_SOURCE_DIR})

pelloran_add_test(crashlog_trace_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trace_test.cpp
  LIBS crashlog_diagnostics crashlog_test_child_process)
add_dependencies(crashlog_trace_tests crashlog_diag_probe)

pelloran_add_test(crashlog_shared_channel_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/shared_channel_test.cpp
  LIBS crashlog_shared_channel advapi32)

pelloran_add_test(crashlog_diagnostics_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/diagnostics_test.cpp
  LIBS crashlog_diagnostics)

pelloran_add_test(crashlog_process_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/process_test.cpp
  LIBS crashlog_diagnostics crashlog_test_child_process
  USES_DISPLAY)  # shows top-level windows to find the main window among them
add_dependencies(crashlog_process_tests crashlog_diag_probe)


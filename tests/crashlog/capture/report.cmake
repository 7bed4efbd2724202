# Tests of the report text and the error log. crashlog_log_writer writes logs from another process.
pelloran_add_test(crashlog_report_text_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/report_text_test.cpp ${CMAKE_CURRENT_LIST_DIR}/call_stack_text_test.cpp
  LIBS crashlog_report)

pelloran_add_test(crashlog_minidump_file_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/minidump_file_test.cpp
  LIBS crashlog_report)

add_executable(crashlog_log_writer ${CMAKE_CURRENT_LIST_DIR}/log_writer_child.cpp)
target_link_libraries(crashlog_log_writer PRIVATE pelloran_options crashlog_report)
target_include_directories(crashlog_log_writer PRIVATE ${PROJECT_SOURCE_DIR})

pelloran_add_test(crashlog_log_file_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_file_test.cpp ${CMAKE_CURRENT_LIST_DIR}/log_pending_test.cpp
  LIBS crashlog_report crashlog_test_child_process)
add_dependencies(crashlog_log_file_tests crashlog_log_writer)

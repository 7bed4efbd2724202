# crashlog-report: its parts natively under the sanitizers, and the tool on real logs and mails
# of crash programs run under Wine.
get_property(report_tool GLOBAL PROPERTY PELLORAN_CRASHLOG_REPORT_TOOL)
get_property(report_tool_tests GLOBAL PROPERTY PELLORAN_CRASHLOG_REPORT_TOOL_TESTS)
if(report_tool)
  add_test(NAME crashlog_report_tool_tests COMMAND ${report_tool_tests})

  find_program(PELLORAN_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
  set(programs worker_fault eight_threads main_uncaught console_report std_thread_escape)
  set(program_files $<TARGET_FILE:crashlog_mail_crash>)
  foreach(program IN LISTS programs)
    list(APPEND program_files $<TARGET_FILE:crash_${program}>)
  endforeach()
  # The programs run from copies in a folder of the test's own, so their logs are its own too.
  pelloran_add_wine_test(crashlog_report_groups_crash_logs DRIVER
    COMMAND ${PELLORAN_DEBIAN_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/group_crash_logs_test.py ${report_tool}
      ${PELLORAN_WINE_RUN} ${CMAKE_BINARY_DIR}/crashlog-report-test ${program_files})
endif()

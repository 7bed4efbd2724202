# The report text of a processed exception and the module's ".elf" error log.

# The log's entry rules alone, free of the platform (the native builds compile them too).
pelloran_pure_sources(crashlog_log_format_sources PURE_LOG_FORMAT)
pelloran_add_library(crashlog_log_format SOURCES ${crashlog_log_format_sources})
# The minidump's name, retention and added memory, and the program's tags and files, free of the
# platform as well.
pelloran_pure_sources(crashlog_report_extras_sources PURE_REPORT_EXTRAS)
pelloran_add_library(crashlog_report_extras SOURCES ${crashlog_report_extras_sources} LIBS pelloran_base)

pelloran_add_library(crashlog_report
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/log_item.cpp
    ${CMAKE_CURRENT_LIST_DIR}/report_text.cpp
    ${CMAKE_CURRENT_LIST_DIR}/call_stack_text.cpp
    ${CMAKE_CURRENT_LIST_DIR}/report_state.cpp
    ${CMAKE_CURRENT_LIST_DIR}/log_file_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/log_file_pending_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/report_gather_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/minidump_win.cpp
  LIBS crashlog_log_format crashlog_report_extras crashlog_machine crashlog_modules crashlog_web crashlog_options crashlog_diagnostics pelloran_base)

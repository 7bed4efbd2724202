# The pipeline that turns one unhandled exception into one report, and its installation.
pelloran_add_library(crashlog_pipeline
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/flow_state.cpp
    ${CMAKE_CURRENT_LIST_DIR}/exception_thread.cpp
    ${CMAKE_CURRENT_LIST_DIR}/error_in_progress.cpp
    ${CMAKE_CURRENT_LIST_DIR}/handlers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pipeline.cpp
    ${CMAKE_CURRENT_LIST_DIR}/report_steps_build.cpp
    ${CMAKE_CURRENT_LIST_DIR}/report_dump_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/report_steps_deliver_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/focus_control_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/install.cpp
    ${CMAKE_CURRENT_LIST_DIR}/framework_hooks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/error_dialog_flow.cpp
  LIBS crashlog_dialog crashlog_freeze crashlog_intercept crashlog_delivery crashlog_threads crashlog_report crashlog_web crashlog_hooks crashlog_modules crashlog_machine crashlog_diagnostics pelloran_runtime)

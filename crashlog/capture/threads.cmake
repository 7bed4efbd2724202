# The thread registry, the hooks on thread creation and the call stack of an exception.
pelloran_add_library(crashlog_threads
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/threads.cpp
    ${CMAKE_CURRENT_LIST_DIR}/threads_hooks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/call_stack.cpp
  LIBS crashlog_intercept crashlog_web crashlog_hooks crashlog_modules crashlog_diagnostics pelloran_runtime)

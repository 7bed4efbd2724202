# Freeze detection: the watcher of the main window, and the clipboard copy that never waits on
# the main thread it holds stopped.
pelloran_add_library(crashlog_freeze
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/freeze_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/clipboard_win.cpp
  LIBS crashlog_threads crashlog_options crashlog_diagnostics pelloran_runtime pelloran_base user32)

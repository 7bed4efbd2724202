# The error dialog, the reproduce-steps dialog and the look they share with the SMTP progress
# dialog.
pelloran_add_library(crashlog_dialog
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/error_dialog_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dialog_look_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/error_dialog_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/error_dialog_pages_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reproduce_dialog_win.cpp
  LIBS crashlog_diagnostics crashlog_options comctl32 msimg32 gdi32 user32)
# The dialogs' templates and pictures go into every program (or library) that links them: they
# are loaded from the module that holds this code.
set(crashlog_dialog_rc ${PROJECT_SOURCE_DIR}/resources/crashlog.rc)
target_sources(crashlog_dialog INTERFACE
  $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:${crashlog_dialog_rc}>
  $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,SHARED_LIBRARY>:${crashlog_dialog_rc}>)

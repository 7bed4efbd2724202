# The facts about application, exception, active window, computer and operating system that a
# report's general section gives, and their text forms.
pelloran_add_library(crashlog_machine
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/machine_text.cpp
    ${CMAKE_CURRENT_LIST_DIR}/application_facts_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/system_facts_win.cpp
  LIBS crashlog_diagnostics user32 advapi32)

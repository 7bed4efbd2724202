# The facts about application, exception, active window, computer and operating system that a
# report's general section gives, and their text forms.
pelloran_pure_sources(machine_text_sources PURE_MACHINE_TEXT)
pelloran_add_library(crashlog_machine
  SOURCES
    ${machine_text_sources}
    ${CMAKE_CURRENT_LIST_DIR}/application_facts_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/system_facts_win.cpp
  LIBS crashlog_diagnostics user32 advapi32)

# The procedure hooking engine: code hooks with trampolines, import-slot hooks.
pelloran_add_library(crashlog_hooks
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/hook.cpp
    ${CMAKE_CURRENT_LIST_DIR}/hook_import.cpp
    ${CMAKE_CURRENT_LIST_DIR}/hook_trampoline.cpp
  LIBS crashlog_modules crashlog_diagnostics pelloran_base)

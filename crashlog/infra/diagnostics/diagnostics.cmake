# Named shared memory between the modules of one process: the EXCEPT channel below and the
# MODULE channel of the options.
pelloran_add_library(crashlog_shared_channel
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/shared_channel.cpp ${CMAKE_CURRENT_LIST_DIR}/channel_security_win.cpp
  LIBS advapi32)

# The reporter's trace, failure codes and warnings, internal-error handler, EXCEPT channel,
# safecall flag, process services, the readability check of memory and the version resource of a
# file.
pelloran_pure_sources(diagnostics_text_sources PURE_DIAGNOSTICS_TEXT)
pelloran_add_library(crashlog_diagnostics
  SOURCES
    ${diagnostics_text_sources}
    ${CMAKE_CURRENT_LIST_DIR}/trace.cpp
    ${CMAKE_CURRENT_LIST_DIR}/trace_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/error_code.cpp
    ${CMAKE_CURRENT_LIST_DIR}/window_texts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/diagnostics.cpp
    ${CMAKE_CURRENT_LIST_DIR}/diagnostics_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/diagnostics_exception_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/except_channel.cpp
    ${CMAKE_CURRENT_LIST_DIR}/readable_memory_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/process.cpp
    ${CMAKE_CURRENT_LIST_DIR}/version_facts_win.cpp
  LIBS pelloran_base crashlog_shared_channel gdi32 user32 advapi32 version)

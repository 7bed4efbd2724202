# Debug information of our own modules: the packed format (pure, also built by the build tool on
# the build machine), and the module registry that looks addresses up at run time.

pelloran_pure_sources(crashlog_debug_info_format_sources PURE_DEBUG_INFO)
pelloran_add_library(crashlog_debug_info_format
  SOURCES ${crashlog_debug_info_format_sources}
  LIBS crashlog_option_stream pelloran_base)

pelloran_add_library(crashlog_modules
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/modules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/modules_memory.cpp
    ${CMAKE_CURRENT_LIST_DIR}/modules_memory_guarded.cpp
    ${CMAKE_CURRENT_LIST_DIR}/modules_pe.cpp
    ${CMAKE_CURRENT_LIST_DIR}/modules_stream.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stack.cpp
  LIBS crashlog_debug_info_format crashlog_options crashlog_diagnostics pelloran_base psapi)

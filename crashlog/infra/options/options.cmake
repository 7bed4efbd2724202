# Options record of a module and its stored form (the OptionStream inside the ELDATA container).

# The stored formats only: no platform headers, zlib. The build tool compiles the same sources
# natively on the build machine.
pelloran_pure_sources(crashlog_option_stream_sources PURE_OPTION_STREAM)
pelloran_add_library(crashlog_option_stream
  SOURCES ${crashlog_option_stream_sources}
  LIBS pelloran_base ZLIB::ZLIB)

# The run-time option objects, the MODULE channel and reading a module's container.
pelloran_add_library(crashlog_options
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/options.cpp
    ${CMAKE_CURRENT_LIST_DIR}/option_texts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/options_channel.cpp
    ${CMAKE_CURRENT_LIST_DIR}/eldata_module.cpp
  LIBS crashlog_option_stream crashlog_shared_channel crashlog_diagnostics pelloran_base)

# Options record of a module, its stored form (the OptionStream inside the ELDATA container) and
# the named shared memory channels between the modules of one process.

# Named shared memory, also used for the EXCEPT channel of the diagnostics.
pelloran_add_library(crashlog_shared_channel
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/shared_channel.cpp)

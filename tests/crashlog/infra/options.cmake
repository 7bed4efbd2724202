pelloran_add_test(crashlog_shared_channel_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/shared_channel_test.cpp
  LIBS crashlog_shared_channel)

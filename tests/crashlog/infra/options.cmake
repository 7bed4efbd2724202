pelloran_add_test(crashlog_shared_channel_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/shared_channel_test.cpp
  LIBS crashlog_shared_channel)

pelloran_add_test(crashlog_option_stream_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/option_stream_test.cpp
  LIBS crashlog_option_stream)

pelloran_add_test(crashlog_options_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/options_test.cpp
  LIBS crashlog_options)

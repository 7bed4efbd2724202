# The thread hooks and call stacks on real threads under Wine. The program carries its own ELDATA,
# so that its procedures and lines resolve.
pelloran_add_test(crashlog_threads_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/threads_test.cpp
  LIBS crashlog_threads)
pelloran_add_eldata(crashlog_threads_tests)

# The hooking engine on real code under Wine. The program carries its own ELDATA, so that hooks by
# name find its procedures.
pelloran_add_test(crashlog_hooks_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hooks_test.cpp
  LIBS crashlog_hooks)
pelloran_add_eldata(crashlog_hooks_tests)

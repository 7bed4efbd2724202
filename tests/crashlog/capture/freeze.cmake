# Freeze detection on the test program's own main thread, named through its ELDATA.

pelloran_add_test(crashlog_freeze_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/freeze_test.cpp
  LIBS crashlog_freeze crashlog_dialog crashlog_report crashlog_modules USES_DISPLAY)
pelloran_add_eldata(crashlog_freeze_tests OPTIONS ${CMAKE_CURRENT_LIST_DIR}/freeze_test.options)

# The crash program whose main thread freezes shows the error dialog of each freeze report: a
# program with windows.
target_link_options(crash_freeze_reported PRIVATE -mwindows)
# One of the longest tests (its freezes wait out their timeouts): it starts early.
set_tests_properties(crashlog_freeze_tests PROPERTIES COST 30)

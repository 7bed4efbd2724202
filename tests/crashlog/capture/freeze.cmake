# Freeze detection on the test program's own main thread, named through its ELDATA.

# Window tests hold the display lock: through pelloran_add_test's own option where the build has
# it (it came with the skip report), through the lock itself otherwise.
if(NOT COMMAND crashlog_window_test)
  function(crashlog_window_test name)
    if(DEFINED PELLORAN_SKIP_LINE)
      pelloran_add_test(${name} ${ARGN} USES_DISPLAY)
    else()
      pelloran_add_test(${name} ${ARGN})
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK display)
    endif()
  endfunction()
endif()

crashlog_window_test(crashlog_freeze_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/freeze_test.cpp
  LIBS crashlog_freeze crashlog_dialog crashlog_report crashlog_modules)
pelloran_add_eldata(crashlog_freeze_tests OPTIONS ${CMAKE_CURRENT_LIST_DIR}/freeze_test.options)

# The crash program whose main thread freezes shows the error dialog of each freeze report: a
# program with windows, holding the display lock.
if(TARGET crash_freeze_reported)
  target_link_options(crash_freeze_reported PRIVATE -mwindows)
  set_tests_properties(crash_freeze_reported PROPERTIES RESOURCE_LOCK display)
endif()

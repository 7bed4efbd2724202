# The reporter's shared channels seen from another process: crashlog_forged_channel_tests starts
# crashlog_forged_target suspended, makes its EXCEPT block first and forges what is published there.
add_executable(crashlog_forged_target ${CMAKE_CURRENT_LIST_DIR}/forged_except_target.cpp)
target_link_libraries(crashlog_forged_target PRIVATE pelloran_options crashlog_pipeline)
pelloran_add_eldata(crashlog_forged_target OPTIONS ${CMAKE_CURRENT_LIST_DIR}/crash/default.options)

pelloran_add_test(crashlog_forged_channel_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/forged_channel_test.cpp
  LIBS crashlog_diagnostics crashlog_test_child_process)
add_dependencies(crashlog_forged_channel_tests crashlog_forged_target)

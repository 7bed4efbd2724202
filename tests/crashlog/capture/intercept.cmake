# Tests of the interception layer. crashlog_crash_probe fails in one way per run (its argument);
# crashlog_intercept_tests starts it for each way and checks what the layer notified and how the
# program ended.
add_executable(crashlog_crash_probe ${CMAKE_CURRENT_LIST_DIR}/crash_probe.cpp)
target_link_libraries(crashlog_crash_probe PRIVATE pelloran_options crashlog_intercept)

pelloran_add_test(crashlog_intercept_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/intercept_test.cpp
  LIBS crashlog_test_child_process)
add_dependencies(crashlog_intercept_tests crashlog_crash_probe)

pelloran_add_test(crashlog_exception_handled_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/exception_handled_test.cpp
  LIBS crashlog_intercept)

# The throw benchmark of bench/intercept/run.sh, with and without the layer.
add_executable(crashlog_throw_bench ${PROJECT_SOURCE_DIR}/bench/intercept/throw_bench.cpp)
target_compile_definitions(crashlog_throw_bench PRIVATE PELLORAN_BENCH_WITH_LAYER)
target_link_libraries(crashlog_throw_bench PRIVATE pelloran_options crashlog_intercept)
add_executable(crashlog_throw_bench_plain ${PROJECT_SOURCE_DIR}/bench/intercept/throw_bench.cpp)
target_link_libraries(crashlog_throw_bench_plain PRIVATE pelloran_options)
# The same with the whole reporter installed (its own ELDATA, the crash programs' options).
add_executable(crashlog_throw_bench_reporter ${PROJECT_SOURCE_DIR}/bench/intercept/throw_bench.cpp)
target_compile_definitions(crashlog_throw_bench_reporter PRIVATE PELLORAN_BENCH_WITH_LAYER PELLORAN_BENCH_WITH_REPORTER)
target_link_libraries(crashlog_throw_bench_reporter PRIVATE pelloran_options crashlog_pipeline)
pelloran_add_eldata(crashlog_throw_bench_reporter OPTIONS ${CMAKE_CURRENT_LIST_DIR}/crash/default.options)

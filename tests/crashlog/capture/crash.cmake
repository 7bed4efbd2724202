# Crash test programs: one small program per kind of failure, each carrying its expectations in
# comments (see run_crash_program.py), built with the reporter installed and its own ELDATA, and
# run under Wine by the driver, which checks the exit code, the output and the .elf log.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
# The programs that open windows, each with a display of its own: Pelloran's main window, the error
# dialog, or the window in which the runtime's timer ticks run.
set(crash_programs_with_windows abort_silent dialog_shown duplicates error_during_report event_fault filtered
  freeze_heap freeze_loader_lock freeze_reported handle_exception_tick new_in_catch ole_exception
  pelloran_tick_error pending_log raise_race rethrow_twice safecall_error stack_overflow synchronize_raise timer_error)
file(GLOB crash_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/crash/*.cpp)
foreach(source IN LISTS crash_sources)
  get_filename_component(name ${source} NAME_WE)
  set(target crash_${name})
  # A program may bring more sources in a folder of its own ("<name>_parts").
  file(GLOB parts ${CMAKE_CURRENT_LIST_DIR}/crash/${name}_parts/*.cpp)
  add_executable(${target} ${source} ${parts})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE pelloran_options crashlog_pipeline pelloran_widgets)
  # Each program writes its log beside itself: a folder of its own.
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/crash/${name})
  set(options ${CMAKE_CURRENT_LIST_DIR}/crash/${name}.options)
  if(NOT EXISTS ${options})
    set(options ${CMAKE_CURRENT_LIST_DIR}/crash/default.options)
  endif()
  pelloran_add_eldata(${target} OPTIONS ${options})
  set(display)
  if(name IN_LIST crash_programs_with_windows)
    set(display USES_DISPLAY)
  endif()
  pelloran_add_wine_test(${target} DRIVER ${display}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/run_crash_program.py $<TARGET_FILE:${target}> ${source})
endforeach()

# Through the public interface, as a program outside this tree uses it.
target_link_libraries(crash_handled_report PRIVATE crashlog_public)
target_link_libraries(crash_dump_retention PRIVATE crashlog_public)

# The programs whose minidumps LLDB opens: their own code as the debugger reads it.
foreach(name dump_lldb worker_fault)
  target_link_libraries(crash_${name} PRIVATE pelloran_debugger_info)
endforeach()

# The programs whose "user" thread drives the reporter's dialogs.
target_link_libraries(crash_dialog_shown PRIVATE pelloran_test_support)
target_link_libraries(crash_freeze_reported PRIVATE pelloran_test_support)

# Pelloran's own window and batch runner, with the batch tests' stand-in events tool beside it.
target_sources(crash_pelloran_tick_error PRIVATE ${PELLORAN_RESOURCES})
target_include_directories(crash_pelloran_tick_error PRIVATE ${PROJECT_SOURCE_DIR}/resources)
target_link_libraries(crash_pelloran_tick_error PRIVATE pelloran_app pelloran_test_support)
add_dependencies(crash_pelloran_tick_error fake_rmevents)
add_custom_command(TARGET crash_pelloran_tick_error POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:fake_rmevents> ${CMAKE_BINARY_DIR}/crash/pelloran_tick_error/fake_rmevents.exe)

# crash_library_host: a library with a reporter of its own, and a host without reporter data.
set(library_host_dir ${CMAKE_BINARY_DIR}/crash/library_host)
add_library(crash_reporter_library SHARED ${CMAKE_CURRENT_LIST_DIR}/packages/reporter_library.cpp)
target_include_directories(crash_reporter_library PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(crash_reporter_library PRIVATE pelloran_options crashlog_pipeline)
set_target_properties(crash_reporter_library PROPERTIES PREFIX "" OUTPUT_NAME reporter_library
  RUNTIME_OUTPUT_DIRECTORY ${library_host_dir})
pelloran_add_eldata(crash_reporter_library OPTIONS ${CMAKE_CURRENT_LIST_DIR}/crash/default.options)
add_executable(crash_plain_library_host ${CMAKE_CURRENT_LIST_DIR}/packages/library_host.cpp)
target_link_libraries(crash_plain_library_host PRIVATE pelloran_options)
set_target_properties(crash_plain_library_host PROPERTIES OUTPUT_NAME plain_library_host
  RUNTIME_OUTPUT_DIRECTORY ${library_host_dir})
add_dependencies(crash_library_host crash_reporter_library crash_plain_library_host)

# The framework package stand-in that crash_package_fallback loads from its own folder.
add_library(crash_vcl70_package SHARED ${CMAKE_CURRENT_LIST_DIR}/packages/vcl70.cpp ${CMAKE_CURRENT_LIST_DIR}/packages/vcl70.def)
set_target_properties(crash_vcl70_package PROPERTIES PREFIX "" OUTPUT_NAME "VCL70" SUFFIX ".BPL"
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/crash/package_fallback)
target_link_options(crash_vcl70_package PRIVATE -static -static-libgcc)
add_dependencies(crash_package_fallback crash_vcl70_package)

# The program of bench/crashlog/run.sh: a fault 64 frames deep, timed until its report is logged.
add_executable(crashlog_fault_report_bench ${CMAKE_CURRENT_LIST_DIR}/fault_report_bench.cpp)
target_include_directories(crashlog_fault_report_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(crashlog_fault_report_bench PRIVATE pelloran_options crashlog_pipeline pelloran_widgets)
set_target_properties(crashlog_fault_report_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench/fault_report)
pelloran_add_eldata(crashlog_fault_report_bench OPTIONS ${CMAKE_CURRENT_LIST_DIR}/crash/default.options)

# The reports kept while the log's folder is read-only or full: crash_pending_log in a private
# mount namespace with a Wine server of its own (its windows take a display).
pelloran_add_wine_test(crashlog_pending_log_mounts_tests DRIVER USES_DISPLAY
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/pending_log_test.py
    $<TARGET_FILE:crash_pending_log> ${PELLORAN_WINE_RUN})

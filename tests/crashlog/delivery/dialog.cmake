# The error dialog: its rules on plain values, and its real windows driven as a user would.

pelloran_add_test(crashlog_error_dialog_rules_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/error_dialog_rules_test.cpp
  LIBS crashlog_dialog crashlog_modules)

pelloran_add_test(crashlog_error_dialog_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/error_dialog_test.cpp
  LIBS crashlog_dialog crashlog_modules pelloran_test_support USES_DISPLAY)

pelloran_add_test(crashlog_smtp_progress_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/smtp_progress_test.cpp
  LIBS crashlog_delivery pelloran_test_support USES_DISPLAY)

# Pictures of the dialogs for the README (scripts/screenshots.sh), from a report of its own.
add_executable(crashlog_dialog_tour ${CMAKE_CURRENT_LIST_DIR}/dialog_screenshot_tour.cpp)
target_include_directories(crashlog_dialog_tour PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(crashlog_dialog_tour PRIVATE pelloran_options crashlog_dialog crashlog_delivery crashlog_report pelloran_test_support)
# Frames of their own for the made-up chain whose stack it shows.
target_compile_options(crashlog_dialog_tour PRIVATE -fno-inline -fno-optimize-sibling-calls)
set_target_properties(crashlog_dialog_tour PROPERTIES EXCLUDE_FROM_ALL ON)
pelloran_add_eldata(crashlog_dialog_tour)

# The crash program that shows the error dialog is a program with windows (a console program gets
# the report on its standard output instead); it still prints what its user saw.
target_link_options(crash_dialog_shown PRIVATE -mwindows)

# Not a test: Pelloran's window with an error shown over it, for the README (scripts/screenshots.sh).
add_executable(pelloran_error_tour WIN32 ${CMAKE_CURRENT_LIST_DIR}/pelloran_error_tour.cpp ${PELLORAN_RESOURCES})
target_include_directories(pelloran_error_tour PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/resources)
target_link_libraries(pelloran_error_tour PRIVATE pelloran_options pelloran_app crashlog_pipeline pelloran_test_support)
set_target_properties(pelloran_error_tour PROPERTIES EXCLUDE_FROM_ALL ON
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tours/pelloran_error)
pelloran_add_eldata(pelloran_error_tour OPTIONS ${PROJECT_SOURCE_DIR}/app/crashlog.options)

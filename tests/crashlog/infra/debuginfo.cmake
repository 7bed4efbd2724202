# Debug information, module registry and stack scan.
pelloran_add_test(crashlog_debug_info_format_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/debug_info_format_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/modules_exports_test.cpp
  LIBS crashlog_debug_info_format)

# The build tool's own tests and the same format tests, natively under the sanitizers.
get_property(eldata_tool_tests GLOBAL PROPERTY PELLORAN_ELDATA_TOOL_TESTS)
if(eldata_tool_tests)
  add_test(NAME eldata_tool_tests COMMAND ${eldata_tool_tests})
endif()

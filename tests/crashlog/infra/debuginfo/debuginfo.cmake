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

# A program that looks its own addresses up through its ELDATA resource, checked against
# addr2line (and llvm-symbolizer) on its unstripped twin; also the subject of bench/debuginfo.
add_executable(crashlog_debuginfo_sample ${CMAKE_CURRENT_LIST_DIR}/debuginfo_sample/main.cpp)
target_include_directories(crashlog_debuginfo_sample PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(crashlog_debuginfo_sample PRIVATE pelloran_options crashlog_modules)
pelloran_add_eldata(crashlog_debuginfo_sample)
pelloran_add_wine_test(crashlog_debug_info_addr2line DRIVER
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/addr2line_compare.sh $<TARGET_FILE:crashlog_debuginfo_sample>
          ${CMAKE_BINARY_DIR}/addr2line-compare 1000)

# The registry and the stack scan under Wine, in a program that carries its own ELDATA, with two
# libraries that carry none: one with decorated exports, package and version resources, one with
# nothing at all.
set(samples ${CMAKE_CURRENT_LIST_DIR}/modules_samples)
add_library(crashlog_modules_package SHARED ${samples}/package.c ${samples}/package.def ${samples}/package.rc)
add_library(crashlog_modules_plain SHARED ${samples}/plain.c)
foreach(library crashlog_modules_package crashlog_modules_plain)
  set_target_properties(${library} PROPERTIES PREFIX "")
  # Frames in every procedure, as the export size estimate expects of such libraries.
  target_compile_options(${library} PRIVATE -O0 -fno-omit-frame-pointer)
  target_link_options(${library} PRIVATE -static-libgcc)
endforeach()
target_link_options(crashlog_modules_plain PRIVATE -Wl,--exclude-all-symbols)

pelloran_add_test(crashlog_modules_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/modules_test.cpp ${CMAKE_CURRENT_LIST_DIR}/stack_test.cpp ${samples}/program.rc
  LIBS crashlog_modules)
pelloran_add_eldata(crashlog_modules_tests OPTIONS ${samples}/program.options)
add_dependencies(crashlog_modules_tests crashlog_modules_package crashlog_modules_plain)

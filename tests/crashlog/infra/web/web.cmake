# Tests of the web error output. The probes are the failing web programs; each test runs them the
# way their server would: the ISAPI extension in a small host, the CGI program behind lighttpd,
# the WinCGI program with a profile and an output file.
add_executable(crashlog_web_cgi_probe ${CMAKE_CURRENT_LIST_DIR}/cgi_probe.cpp)
target_link_libraries(crashlog_web_cgi_probe PRIVATE pelloran_options crashlog_web)

add_executable(crashlog_web_wincgi_probe WIN32 ${CMAKE_CURRENT_LIST_DIR}/wincgi_probe.cpp)
target_link_libraries(crashlog_web_wincgi_probe PRIVATE pelloran_options crashlog_web)

add_library(crashlog_web_isapi_extension SHARED
  ${CMAKE_CURRENT_LIST_DIR}/isapi_extension.cpp ${CMAKE_CURRENT_LIST_DIR}/isapi_extension.def)
target_link_libraries(crashlog_web_isapi_extension PRIVATE pelloran_options crashlog_web)
set_target_properties(crashlog_web_isapi_extension PROPERTIES PREFIX "")

pelloran_add_test(crashlog_web_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/web_test.cpp
  LIBS crashlog_web crashlog_test_child_process)
add_dependencies(crashlog_web_tests crashlog_web_wincgi_probe)

pelloran_add_test(crashlog_web_isapi_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/isapi_host_test.cpp
  LIBS crashlog_test_child_process)
add_dependencies(crashlog_web_isapi_tests crashlog_web_isapi_extension)

find_package(Python3 COMPONENTS Interpreter REQUIRED)
pelloran_add_wine_test(crashlog_web_cgi_lighttpd_tests DRIVER
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/cgi_lighttpd_test.py
    $<TARGET_FILE:crashlog_web_cgi_probe> ${PELLORAN_WINE_RUN})

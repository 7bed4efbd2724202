# Web error output: the error page with status 500 for ISAPI, CGI, WinCGI and IntraWeb programs.
# web_page.cpp and intraweb.cpp hold no platform calls and build natively as well.
pelloran_add_library(crashlog_web
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/web_page.cpp
    ${CMAKE_CURRENT_LIST_DIR}/intraweb.cpp
    ${CMAKE_CURRENT_LIST_DIR}/web_win.cpp
  LIBS pelloran_base crashlog_diagnostics)

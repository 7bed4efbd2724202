# Report delivery: the screenshot, the mail texts, the mail-client paths, SMTP and the MX lookup.

# The pure part: PNG chunks, base64 and MIME texts, the DNS query and answer, SMTP replies and
# session rules, TLS record framing. No platform headers, so that the fuzz targets and the
# benchmark build it natively as well.
pelloran_pure_sources(crashlog_delivery_text_sources PURE_DELIVERY_TEXT)
pelloran_add_library(crashlog_delivery_text
  SOURCES ${crashlog_delivery_text_sources}
  LIBS pelloran_base ZLIB::ZLIB)

pelloran_add_library(crashlog_delivery
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/screenshot_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/client_socket_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tls_channel_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tls_certificate_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/smtp_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/smtp_progress_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mail_client_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/send_report_win.cpp
  LIBS crashlog_delivery_text crashlog_dialog crashlog_threads crashlog_options crashlog_machine crashlog_diagnostics pelloran_runtime
       wsock32 iphlpapi secur32 crypt32 comctl32 gdi32 user32 advapi32)

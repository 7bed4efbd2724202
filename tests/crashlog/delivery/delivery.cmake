# Tests of the report delivery: the pure texts and formats on their own, and every delivery path
# end to end from a crash program under Wine against real peers (delivery_peers_test.py).
pelloran_add_test(crashlog_delivery_text_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/png_writer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mail_text_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dns_message_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/smtp_reply_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tls_record_test.cpp
  LIBS crashlog_delivery_text crashlog_test_child_process ZLIB::ZLIB)

# The program the end-to-end tests run: it installs the reporter and fails for real, and the
# pipeline mails its report. A GUI program: the progress window shows only in one.
add_executable(crashlog_mail_crash WIN32 ${CMAKE_CURRENT_LIST_DIR}/mail_crash.cpp)
target_include_directories(crashlog_mail_crash PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(crashlog_mail_crash PRIVATE pelloran_options crashlog_pipeline pelloran_widgets crashlog_public)
# Its log beside itself, in a folder of its own.
set_target_properties(crashlog_mail_crash PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/crash/mail_crash)
pelloran_add_eldata(crashlog_mail_crash OPTIONS ${CMAKE_CURRENT_LIST_DIR}/mail_crash.options)

# Stand-ins for a mail client: a Simple MAPI library registered as the default client, and a
# mailto handler program.
add_library(crashlog_mapi_standin SHARED
  ${CMAKE_CURRENT_LIST_DIR}/mapi_standin.cpp ${CMAKE_CURRENT_LIST_DIR}/mapi_standin.def)
target_link_libraries(crashlog_mapi_standin PRIVATE pelloran_options)
set_target_properties(crashlog_mapi_standin PROPERTIES PREFIX "")

add_executable(crashlog_mailto_standin WIN32 ${CMAKE_CURRENT_LIST_DIR}/mailto_standin.cpp)
target_link_libraries(crashlog_mailto_standin PRIVATE pelloran_options)

# Puts the TLS tests' authority into the prefix's ROOT store and takes it out again.
add_executable(crashlog_trust_root ${CMAKE_CURRENT_LIST_DIR}/trust_root.cpp)
target_link_libraries(crashlog_trust_root PRIVATE pelloran_options crypt32)

# Debian's Python: the SMTP server (python3-aiosmtpd) is installed for it.
find_program(PELLORAN_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
set(delivery_peer_args
  $<TARGET_FILE:crashlog_mail_crash> $<TARGET_FILE:crashlog_mapi_standin>
  $<TARGET_FILE:crashlog_mailto_standin> ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh
  $<TARGET_FILE:crashlog_trust_root>)
# One ctest entry per kind of peer, so that each stays well within the test timeout. The crash
# program, the progress window and the mailto handler open windows: a display of their own.
foreach(group Smtp SmtpFailures SmtpTls MailClient Dns)
  string(TOLOWER ${group} suffix)
  pelloran_add_wine_test(crashlog_delivery_${suffix}_tests DRIVER USES_DISPLAY
    COMMAND ${PELLORAN_DEBIAN_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/delivery_peers_test.py ${delivery_peer_args} ${group})
  # The longest tests of the run (their peers' timeouts): they start first.
  set_tests_properties(crashlog_delivery_${suffix}_tests PROPERTIES COST 100)
endforeach()

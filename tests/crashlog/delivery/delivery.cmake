# Tests of the report delivery: the pure texts and formats on their own, and every delivery path
# end to end from a small program under Wine against real peers (delivery_peers_test.py).
pelloran_add_test(crashlog_delivery_text_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/png_writer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mail_text_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dns_message_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/smtp_reply_test.cpp
  LIBS crashlog_delivery_text crashlog_test_child_process ZLIB::ZLIB)

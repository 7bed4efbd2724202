# Tests of the machine facts: text forms natively testable, and the facts read from the system.
pelloran_add_test(crashlog_machine_text_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/machine_text_test.cpp
  LIBS crashlog_machine)

# Prints its own application facts; its version resource has an empty description and 0.0.0.0.
add_executable(crashlog_machine_probe
  ${CMAKE_CURRENT_LIST_DIR}/machine_probe.cpp ${CMAKE_CURRENT_LIST_DIR}/machine_probe.rc)
target_link_libraries(crashlog_machine_probe PRIVATE pelloran_options crashlog_machine)

# The test program carries a real version resource of its own. It brings a window of its own to
# the foreground. The zone test runs only in the zone entries below, where a zone is named (the
# filter goes through the environment: the program checks that it has no parameters).
pelloran_add_test(crashlog_machine_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/machine_facts_test.cpp ${CMAKE_CURRENT_LIST_DIR}/machine_facts_test.rc
  LIBS crashlog_machine crashlog_test_child_process
  USES_DISPLAY)
set_property(TEST crashlog_machine_tests APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=-SystemZone.*")
add_dependencies(crashlog_machine_tests crashlog_machine_probe crashlog_diag_probe)

# The mail date under the system's own zone: the same program again under several time zones
# (Wine takes the zone from TZ), each with the zone text it must write in winter and in summer.
foreach(zone "Asia/Shanghai=+0800=+0800" "America/New_York=-0500=-0400" "UTC=+0000=+0000"
             "Asia/Kolkata=+0530=+0530")
  string(REPLACE "=" ";" parts "${zone}")
  list(GET parts 0 tz)
  list(GET parts 1 expected)
  list(GET parts 2 expected_summer)
  string(REGEX REPLACE "[^A-Za-z]" "_" suffix "${tz}")
  pelloran_add_wine_test(crashlog_machine_zone_${suffix}
    COMMAND crashlog_machine_tests --gtest_filter=SystemZone.*
    ENVIRONMENT TZ=${tz} PELLORAN_EXPECTED_ZONE=${expected} PELLORAN_EXPECTED_SUMMER_ZONE=${expected_summer})
endforeach()

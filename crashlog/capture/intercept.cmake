# The raise points of the reporter: C++ throws (the throw entries of the C++ runtime wrapped at
# link time), processor faults continued as C++ throws, the last chance, and the test whether the
# program's own frames will catch an exception. Every program that links it gets the wrapping.
pelloran_add_library(crashlog_intercept
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/exception_object.cpp
    ${CMAKE_CURRENT_LIST_DIR}/exception_handled_lsda.cpp
    ${CMAKE_CURRENT_LIST_DIR}/exception_handled_frames.cpp
    ${CMAKE_CURRENT_LIST_DIR}/exception_handled.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fault.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fault_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/intercept.cpp
    ${CMAKE_CURRENT_LIST_DIR}/intercept_raise.cpp
    ${CMAKE_CURRENT_LIST_DIR}/intercept_kept_raise.cpp
    ${CMAKE_CURRENT_LIST_DIR}/intercept_units.cpp
    ${CMAKE_CURRENT_LIST_DIR}/last_chance.cpp
    ${CMAKE_CURRENT_LIST_DIR}/termination.cpp
  LIBS crashlog_diagnostics pelloran_runtime)
target_link_options(crashlog_intercept INTERFACE
  -Wl,--wrap=__cxa_throw -Wl,--wrap=__cxa_rethrow -Wl,--wrap=_ZSt17rethrow_exceptionNSt15__exception_ptr13exception_ptrE
  -Wl,--wrap=__main -Wl,--wrap=exit -Wl,--wrap=__cxa_pure_virtual -Wl,--wrap=_ZSt9terminatev)

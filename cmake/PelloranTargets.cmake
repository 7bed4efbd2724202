# Compiler settings shared by every target of the project, and the helpers that add programs
# and Wine-run tests.

# Sources are UTF-8; the program's narrow strings are GBK (the ANSI code page 936). The compiler
# is told GB18030: it gives the same bytes as code page 936 for every character of the program's
# texts, and unlike CP936 it can also encode what the standard headers hold ("µs" in <chrono>).
add_library(pelloran_options INTERFACE)
# -fnon-call-exceptions: an instruction that may fault (a memory access through a pointer, a
# division) is covered by its function's exception tables like a call, so that the crash reporter
# can continue a processor fault as a C++ throw from the faulting instruction.
target_compile_options(pelloran_options INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wno-missing-field-initializers
  -finput-charset=UTF-8
  $<$<COMPILE_LANGUAGE:CXX>:-fexec-charset=GB18030 -fnon-call-exceptions>
  $<$<COMPILE_LANGUAGE:C>:-fexec-charset=GB18030>)
target_compile_definitions(pelloran_options INTERFACE
  WIN32_LEAN_AND_MEAN NOMINMAX STRICT _WIN32_WINNT=0x0601 WINVER=0x0601 _WIN32_IE=0x0600)
# A static C++ runtime: the programs run without any DLL beside them.
target_link_options(pelloran_options INTERFACE -static -static-libgcc -static-libstdc++)

# The program's own code, as a debugger reads it from a report's minidump: DWARF 4 (Debian's LLDB 14
# shows no source file for GCC 12's DWARF 5 line tables), frame pointers (LLDB 14 unwinds the frames of
# such a dump along EBP, not by the program's .eh_frame) and a build id, which gives the PE a
# CodeView record. The reporter's own sources keep the defaults, and so does Pelloran for now (its
# report tests have not been run against these flags yet).
add_library(pelloran_debugger_info INTERFACE)
target_compile_options(pelloran_debugger_info INTERFACE $<$<COMPILE_LANGUAGE:C,CXX>:-gdwarf-4 -fno-omit-frame-pointer>)
target_link_options(pelloran_debugger_info INTERFACE -Wl,--build-id)

# pelloran_add_library(name SOURCES ... [LIBS ...])
function(pelloran_add_library name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${arg_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC pelloran_options ${arg_LIBS})
endfunction()

# Tests run under Wine in one private session per ctest run (fixture "wine").
set(PELLORAN_WINE_SESSION ${CMAKE_BINARY_DIR}/wine-session)
set(PELLORAN_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)

# A test program prints this line when it skipped tests and failed none (tests/support/
# skip_report.cpp); ctest then reports it as skipped instead of passed.
set(PELLORAN_SKIP_LINE "PELLORAN-SKIPPED: ")

# pelloran_add_test(name SOURCES ... [LIBS ...] [OUTPUT_DIR dir] [NO_GTEST_MAIN] [USES_DISPLAY]
#                   [FIXTURES fixture...])
# One GoogleTest program, one ctest entry run under Wine (pelloran_add_wine_test). OUTPUT_DIR gives
# the program a folder of its own, for tests that put files beside the executable.
function(pelloran_add_test name)
  cmake_parse_arguments(arg "NO_GTEST_MAIN;USES_DISPLAY" "OUTPUT_DIR" "SOURCES;LIBS;FIXTURES" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  if(arg_NO_GTEST_MAIN)
    target_link_libraries(${name} PRIVATE pelloran_options GTest::gtest ${arg_LIBS})
  else()
    target_link_libraries(${name} PRIVATE pelloran_options GTest::gtest_main ${arg_LIBS})
  endif()
  target_link_libraries(${name} PRIVATE pelloran_skip_report)
  target_precompile_headers(${name} REUSE_FROM pelloran_test_pch)
  # GCC 12 no longer treats the standard library's string code as a system header's once it
  # comes from the precompiled header, and reports -Warray-bounds and -Wstringop-overflow false
  # positives where test bodies build strings.
  target_compile_options(${name} PRIVATE -Wno-array-bounds -Wno-stringop-overflow)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(arg_OUTPUT_DIR)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${arg_OUTPUT_DIR})
  endif()
  set(display)
  if(arg_USES_DISPLAY)
    set(display USES_DISPLAY)
  endif()
  pelloran_add_wine_test(${name} COMMAND ${name} ${display} FIXTURES ${arg_FIXTURES})
endfunction()

# pelloran_add_wine_test(name COMMAND command... [DRIVER] [USES_DISPLAY] [ENVIRONMENT var=value...]
#                        [FIXTURES fixture...])
# One ctest entry that runs in the test run's private Wine session (fixture "wine"). Without
# DRIVER the command is a Windows program (CMake runs it through scripts/wine-run.sh, the
# cross-compiling emulator). DRIVER: the command is a script of this machine that starts Windows
# programs through scripts/wine-run.sh ($PELLORAN_WINE_RUN); it runs with PELLORAN_WINE_SESSION
# naming the session the test was given.
# USES_DISPLAY: the test opens windows (real forms, message or file dialogs, a program with a
# window, anything that takes the foreground or the focus). Windows share a display, a foreground
# and a focus, so a window test gets one of the run's displays to itself: ctest allocates the
# resource "displays" (tests/displays.json, given by the test preset), and wine-run.sh runs the
# test in that display's session. Every window test needs it; the window helpers of tests/support
# stop a test that uses them without it (PELLORAN_DISPLAY_LOCK=0).
function(pelloran_add_wine_test name)
  cmake_parse_arguments(arg "DRIVER;USES_DISPLAY" "" "COMMAND;ENVIRONMENT;FIXTURES" ${ARGN})
  set(command ${arg_COMMAND})
  if(arg_DRIVER)
    set(command ${PELLORAN_WINE_RUN} --env ${command})
  endif()
  set(display_lock 0)
  if(arg_USES_DISPLAY)
    set(display_lock 1)
  endif()
  add_test(NAME ${name} COMMAND ${command})
  set(environment
    PELLORAN_WINE_SESSION=${PELLORAN_WINE_SESSION}
    PELLORAN_WINE_RUN=${PELLORAN_WINE_RUN}
    PELLORAN_DISPLAY_LOCK=${display_lock}
    PYTHONDONTWRITEBYTECODE=1
    ${arg_ENVIRONMENT})
  set(fixtures wine ${arg_FIXTURES})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED "${fixtures}"
    ENVIRONMENT "${environment}"
    SKIP_REGULAR_EXPRESSION "${PELLORAN_SKIP_LINE}")
  if(arg_USES_DISPLAY)
    set_tests_properties(${name} PROPERTIES RESOURCE_GROUPS displays:1)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT PELLORAN_NEEDS_DISPLAY=1)
  endif()
endfunction()

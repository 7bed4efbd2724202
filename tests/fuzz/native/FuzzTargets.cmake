# pelloran_add_fuzz_target(<name> HARNESS <file> [SOURCES <files>...] [LIBS <libraries>...])
#
# Builds fuzz_<name> from a harness that defines LLVMFuzzerTestOneInput, and registers the replay
# of tests/fuzz/corpus/<name>/ (which must hold the target's seeds) and, when present,
# tests/fuzz/regressions/<name>/ (inputs that once failed). The replays are written to
# replay_tests.cmake, which the Windows build's ctest includes; this project's own ctest runs them
# as well.
set(PELLORAN_FUZZ_CORPUS ${CMAKE_CURRENT_LIST_DIR}/../corpus)
set(PELLORAN_FUZZ_REGRESSIONS ${CMAKE_CURRENT_LIST_DIR}/../regressions)
set(PELLORAN_FUZZ_REPLAY_FILE ${CMAKE_BINARY_DIR}/replay_tests.cmake)
file(WRITE ${PELLORAN_FUZZ_REPLAY_FILE} "# Written by tests/fuzz/native/FuzzTargets.cmake\n")
enable_testing()

function(pelloran_add_fuzz_target name)
  cmake_parse_arguments(arg "" "HARNESS" "SOURCES;LIBS" ${ARGN})
  get_filename_component(corpus ${PELLORAN_FUZZ_CORPUS}/${name} ABSOLUTE)
  get_filename_component(regressions ${PELLORAN_FUZZ_REGRESSIONS}/${name} ABSOLUTE)
  file(GLOB seeds ${corpus}/*)
  if(NOT seeds)
    message(FATAL_ERROR "fuzz target ${name}: no seeds in ${corpus}")
  endif()
  add_executable(fuzz_${name} ${arg_HARNESS} ${arg_SOURCES})
  target_link_libraries(fuzz_${name} PRIVATE ${arg_LIBS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)

  # -runs=0: every input of the directories once, no mutation. Crash files go to the build tree.
  set(inputs ${corpus})
  if(EXISTS ${regressions})
    list(APPEND inputs ${regressions})
  endif()
  set(artifacts ${CMAKE_BINARY_DIR}/replay-artifacts/${name}-)
  set(command $<TARGET_FILE:fuzz_${name}> -runs=0 -artifact_prefix=${artifacts} ${inputs})
  add_test(NAME fuzz_replay_${name} COMMAND ${command})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/replay-artifacts)
  # The same test for the outer ctest, with the target's path spelled out.
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/replay/${name}.cmake CONTENT
    "add_test(fuzz_replay_${name} \"$<JOIN:${command},\" \">\")\nset_tests_properties(fuzz_replay_${name} PROPERTIES LABELS fuzz TIMEOUT 120)\n")
  file(APPEND ${PELLORAN_FUZZ_REPLAY_FILE} "include(\"${CMAKE_BINARY_DIR}/replay/${name}.cmake\")\n")
endfunction()

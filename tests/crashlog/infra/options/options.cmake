pelloran_add_test(crashlog_option_stream_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/option_stream_test.cpp
  LIBS crashlog_option_stream)

# crashlog_options_probe publishes on the MODULE channel and reads it back during finalisation.
add_executable(crashlog_options_probe ${CMAKE_CURRENT_LIST_DIR}/options_probe.cpp)
target_link_libraries(crashlog_options_probe PRIVATE pelloran_options crashlog_options)

pelloran_add_test(crashlog_options_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/options_test.cpp
  LIBS crashlog_options crashlog_test_child_process)
add_dependencies(crashlog_options_tests crashlog_options_probe)

# The ELDATA test program carries a container as its RCDATA resource. The container is written at
# build time by a native program compiled from the same stream sources the build tool uses, which
# also keeps those sources honest about building on the build machine.
find_program(PELLORAN_HOST_CXX NAMES g++ c++ REQUIRED)
pelloran_pure_sources(eldata_stream_sources PURE_OPTION_STREAM)
list(APPEND eldata_stream_sources ${PROJECT_SOURCE_DIR}/base/byte_stream_le.cpp)
set(eldata_fixture_dir ${CMAKE_CURRENT_BINARY_DIR}/eldata_fixture)
set(eldata_fixture_bin ${eldata_fixture_dir}/eldata_fixture.bin)
set(eldata_fixture_rc ${eldata_fixture_dir}/eldata_fixture.rc)
set(eldata_stream_headers
  ${PROJECT_SOURCE_DIR}/base/byte_stream_le.h
  ${PROJECT_SOURCE_DIR}/crashlog/infra/options/option_stream.h
  ${PROJECT_SOURCE_DIR}/crashlog/infra/options/option_list.h
  ${PROJECT_SOURCE_DIR}/crashlog/infra/options/eldata.h)
add_custom_command(OUTPUT ${eldata_fixture_bin}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${eldata_fixture_dir}
  COMMAND ${PELLORAN_HOST_CXX} -std=c++20 -O1 -Wall -Wextra -Wshadow -I${PROJECT_SOURCE_DIR}
    ${CMAKE_CURRENT_LIST_DIR}/eldata_fixture_writer.cpp ${eldata_stream_sources} -lz
    -o ${eldata_fixture_dir}/eldata_fixture_writer
  COMMAND ${eldata_fixture_dir}/eldata_fixture_writer ${eldata_fixture_bin}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/eldata_fixture_writer.cpp ${CMAKE_CURRENT_LIST_DIR}/eldata_fixture.h
    ${eldata_stream_sources} ${eldata_stream_headers}
  COMMENT "Writing the ELDATA test resource with a native build of the option stream code"
  VERBATIM)
file(WRITE ${eldata_fixture_rc} "ELDATA RCDATA \"${eldata_fixture_bin}\"\n")
set_source_files_properties(${eldata_fixture_rc} PROPERTIES OBJECT_DEPENDS ${eldata_fixture_bin})

pelloran_add_test(crashlog_eldata_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/eldata_test.cpp ${eldata_fixture_rc}
  LIBS crashlog_options)

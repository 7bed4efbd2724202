# The installable CrashLog package: `cmake --install <build> --prefix <dir>` puts
#   lib/libcrashlog.a                 the reporter and all it uses inside, in one archive
#   lib/crashlog_resources.obj        the dialogs' templates and pictures, compiled
#   include/crashlog/crashlog.h       the public interface
#   share/CrashLog/                   the dialogs' resource script and its pictures
#   bin/crashlog-eldata               the host tool that writes the ELDATA resource
#   bin/crashlog-report               the host tool that groups the reports of logs and mails
#   lib/cmake/CrashLog/               CrashLogConfig.cmake (CrashLog::crashlog, crashlog_add_eldata)
# One archive, so that a program links it without knowing the order of our libraries (the linker
# searches one archive again until nothing more resolves). zlib goes in as its static library:
# the program needs no zlib1.dll.

# The static libraries `target` links, all the way down, the system libraries they name and the
# link options they hand to their users (the intercept's --wrap list).
function(crashlog_collect_links target out_static out_system out_link_options)
  set(static ${target})
  set(system)
  set(link_options)
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    get_target_property(options ${current} INTERFACE_LINK_OPTIONS)
    if(options)
      if(options MATCHES "\\$<")
        message(FATAL_ERROR "CrashLog package: cannot carry the link options '${options}' of ${current}")
      endif()
      list(APPEND link_options ${options})
    endif()
    get_target_property(links ${current} INTERFACE_LINK_LIBRARIES)
    if(NOT links)
      continue()
    endif()
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(link STREQUAL "ZLIB::ZLIB")
        continue()  # taken in as its static library below
      elseif(TARGET ${link})
        get_target_property(type ${link} TYPE)
        if(type STREQUAL "STATIC_LIBRARY" AND NOT link IN_LIST static)
          list(APPEND static ${link})
          list(APPEND queue ${link})
        endif()
      elseif(link MATCHES "^[A-Za-z0-9_]+$")
        list(APPEND system ${link})
      elseif(link)
        message(FATAL_ERROR "CrashLog package: cannot carry the link item '${link}' of ${current}")
      endif()
    endforeach()
  endwhile()
  list(REMOVE_DUPLICATES system)
  list(REMOVE_DUPLICATES link_options)
  set(${out_static} ${static} PARENT_SCOPE)
  set(${out_system} ${system} PARENT_SCOPE)
  set(${out_link_options} ${link_options} PARENT_SCOPE)
endfunction()

# The public interface, over the reporter's installation and handler slots.
pelloran_add_library(crashlog_public SOURCES ${PROJECT_SOURCE_DIR}/crashlog/crashlog.cpp LIBS crashlog_pipeline)

# The dialogs' resources as one object file that a program links whatever languages it enables.
add_library(crashlog_resources OBJECT ${PROJECT_SOURCE_DIR}/resources/crashlog.rc)
target_include_directories(crashlog_resources PRIVATE ${PROJECT_SOURCE_DIR}/resources)

find_library(CRASHLOG_ZLIB_STATIC NAMES libz.a REQUIRED)
crashlog_collect_links(crashlog_public crashlog_static crashlog_system_libs crashlog_link_options)

set(package_dir ${CMAKE_BINARY_DIR}/package)
set(archive ${package_dir}/libcrashlog.a)
set(mri "CREATE ${archive}\n")
set(archive_inputs)
foreach(lib IN LISTS crashlog_static)
  string(APPEND mri "ADDLIB $<TARGET_FILE:${lib}>\n")
  list(APPEND archive_inputs $<TARGET_FILE:${lib}>)
endforeach()
string(APPEND mri "ADDLIB ${CRASHLOG_ZLIB_STATIC}\nSAVE\nEND\n")
file(GENERATE OUTPUT ${package_dir}/crashlog.mri CONTENT "${mri}")
add_custom_command(OUTPUT ${archive}
  COMMAND ${CMAKE_COMMAND} -E remove -f ${archive}
  COMMAND ${CMAKE_AR} -M < ${package_dir}/crashlog.mri
  COMMAND ${CMAKE_RANLIB} ${archive}
  DEPENDS ${archive_inputs} ${CRASHLOG_ZLIB_STATIC} ${package_dir}/crashlog.mri
  COMMENT "Merging the CrashLog libraries into libcrashlog.a"
  VERBATIM)
add_custom_target(crashlog_package ALL DEPENDS ${archive})
# What the install takes besides the archive.
add_dependencies(crashlog_package crashlog_resources pelloran_eldata_host)

string(REPLACE ";" " " CRASHLOG_SYSTEM_LIBS "${crashlog_system_libs}")
string(REPLACE ";" " " CRASHLOG_LINK_OPTIONS "${crashlog_link_options}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/CrashLogConfig.cmake.in ${package_dir}/CrashLogConfig.cmake @ONLY)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${package_dir}/CrashLogConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)

get_property(eldata_tool GLOBAL PROPERTY PELLORAN_ELDATA_TOOL)
install(FILES ${archive} DESTINATION lib)
install(FILES $<TARGET_OBJECTS:crashlog_resources> DESTINATION lib RENAME crashlog_resources.obj)
install(FILES ${PROJECT_SOURCE_DIR}/crashlog/crashlog.h DESTINATION include/crashlog)
install(FILES ${PROJECT_SOURCE_DIR}/resources/crashlog.rc
              ${PROJECT_SOURCE_DIR}/resources/crashlog_dll.bmp
              ${PROJECT_SOURCE_DIR}/resources/crashlog_bpl.bmp
              ${PROJECT_SOURCE_DIR}/resources/crashlog_vcl.bmp
              ${PROJECT_SOURCE_DIR}/resources/crashlog_pas.bmp
              ${PROJECT_SOURCE_DIR}/resources/crashlog_monitor.bmp
        DESTINATION share/CrashLog)
install(PROGRAMS ${eldata_tool} DESTINATION bin RENAME crashlog-eldata)
# The tool that groups the reports of logs and mails, when the tree builds it.
get_property(report_tool GLOBAL PROPERTY PELLORAN_CRASHLOG_REPORT_TOOL)
if(report_tool AND TARGET pelloran_crashlog_report_host)
  add_dependencies(crashlog_package pelloran_crashlog_report_host)
  install(PROGRAMS ${report_tool} DESTINATION bin)
endif()
install(FILES ${package_dir}/CrashLogConfig.cmake
              ${package_dir}/CrashLogConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/CrashLogEldata.cmake
        DESTINATION lib/cmake/CrashLog)

# crashlog_add_eldata(target [OPTIONS file])
#
# After `target` is linked: keeps the program as linked, with its DWARF, as "<file>.debug";
# writes the crash reporter's ELDATA resource (the options of `file`, defaults where it says
# nothing, and debug information packed from the DWARF) into the program; and drops the DWARF
# sections and the symbol table from the program itself: at run time the reporter reads only its
# ELDATA. The tool refuses to write a program whose code section would differ from the linked one.
#
# The tool is the one named by the global property CRASHLOG_ELDATA_TOOL: the installed package
# sets it to its own copy, the source tree to the tool it builds (whose build target it names in
# CRASHLOG_ELDATA_TOOL_TARGET). This file is installed with the package as it stands.
include_guard(GLOBAL)

function(crashlog_add_eldata target)
  cmake_parse_arguments(arg "" "OPTIONS" "" ${ARGN})
  get_property(tool GLOBAL PROPERTY CRASHLOG_ELDATA_TOOL)
  get_property(tool_target GLOBAL PROPERTY CRASHLOG_ELDATA_TOOL_TARGET)
  if(NOT tool)
    message(FATAL_ERROR "crashlog_add_eldata: no ELDATA tool is known to this build")
  endif()
  if(tool_target)
    add_dependencies(${target} ${tool_target})
  endif()
  # A new tool writes the resource anew: relink.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${tool})
  set(options_args)
  if(arg_OPTIONS)
    get_filename_component(options_file ${arg_OPTIONS} ABSOLUTE)
    set(options_args --options ${options_file})
    # A changed options file relinks the program, which writes the resource anew.
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${options_file})
  endif()
  # The toolchain's own strip when CMake found it (a cache entry, seen from every folder).
  if(CMAKE_STRIP MATCHES "mingw32")
    set(strip ${CMAKE_STRIP})
  else()
    find_program(CRASHLOG_MINGW_STRIP NAMES i686-w64-mingw32-strip REQUIRED)
    set(strip ${CRASHLOG_MINGW_STRIP})
  endif()
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${file}.debug
    COMMAND ${strip} --strip-all -o ${file}.stripped ${file}.debug
    COMMAND ${tool} --dwarf ${file}.debug --image ${file}.stripped ${options_args}
            --output ${file} --stats ${file}.eldata.txt
    COMMAND ${CMAKE_COMMAND} -E remove ${file}.stripped
    VERBATIM)
endfunction()

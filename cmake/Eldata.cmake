# pelloran_add_eldata(target [OPTIONS file])
#
# After `target` is linked: keeps the program as linked, with its DWARF, as "<file>.debug";
# writes the crash reporter's ELDATA resource (the options of `file`, defaults where it says
# nothing, and debug information packed from the DWARF) into the program; and drops the DWARF
# sections and the symbol table from the program itself: at run time the reporter reads only its
# ELDATA. The tool refuses to write a program whose code section would
# differ from the linked one.
find_program(PELLORAN_MINGW_STRIP NAMES i686-w64-mingw32-strip REQUIRED)

function(pelloran_add_eldata target)
  cmake_parse_arguments(arg "" "OPTIONS" "" ${ARGN})
  get_property(tool GLOBAL PROPERTY PELLORAN_ELDATA_TOOL)
  get_property(tool_target GLOBAL PROPERTY PELLORAN_ELDATA_TOOL_TARGET)
  if(NOT tool)
    message(FATAL_ERROR "pelloran_add_eldata: the ELDATA tool (tools/) is not part of this build")
  endif()
  add_dependencies(${target} ${tool_target})
  # A new tool writes the resource anew: relink.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${tool})
  set(options_args)
  if(arg_OPTIONS)
    get_filename_component(options_file ${arg_OPTIONS} ABSOLUTE)
    set(options_args --options ${options_file})
    # A changed options file relinks the program, which writes the resource anew.
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${options_file})
  endif()
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${file}.debug
    COMMAND ${PELLORAN_MINGW_STRIP} --strip-all -o ${file}.stripped ${file}.debug
    COMMAND ${tool} --dwarf ${file}.debug --image ${file}.stripped ${options_args}
            --output ${file} --stats ${file}.eldata.txt
    COMMAND ${CMAKE_COMMAND} -E remove ${file}.stripped
    VERBATIM)
endfunction()

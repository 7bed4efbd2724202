# pelloran_add_eldata(target [OPTIONS file]): the package's crashlog_add_eldata, with the ELDATA
# tool this tree builds (tools/).
include(CrashLogEldata)

get_property(PELLORAN_ELDATA_TOOL_PATH GLOBAL PROPERTY PELLORAN_ELDATA_TOOL)
if(NOT PELLORAN_ELDATA_TOOL_PATH)
  message(FATAL_ERROR "pelloran_add_eldata: the ELDATA tool (tools/) is not part of this build")
endif()
set_property(GLOBAL PROPERTY CRASHLOG_ELDATA_TOOL ${PELLORAN_ELDATA_TOOL_PATH})
get_property(PELLORAN_ELDATA_TOOL_TARGET GLOBAL PROPERTY PELLORAN_ELDATA_TOOL_TARGET)
set_property(GLOBAL PROPERTY CRASHLOG_ELDATA_TOOL_TARGET ${PELLORAN_ELDATA_TOOL_TARGET})

function(pelloran_add_eldata target)
  crashlog_add_eldata(${target} ${ARGN})
endfunction()

# The platform-free sources, listed once for every build that compiles them: the Windows build,
# the host tools (the ELDATA writer, crashlog-report) and the native sanitizer and fuzz builds.
# Paths are relative to the repository root; pelloran_pure_sources(<out> <list>...) makes them
# whole. The including project sets PELLORAN_ROOT to the repository root.
set(PURE_BASE
  base/exceptions.cpp base/ansi_path.cpp base/text_lines.cpp base/byte_stream_le.cpp base/pe_headers.cpp
  base/hex_text.cpp)
set(PURE_BATCH_TEXT batch/job_naming.cpp batch/control_files.cpp batch/column_fit.cpp batch/runner_machine.cpp)
set(PURE_RMEVENTS_CORE
  batch/rmevents/rm_format.cpp batch/rmevents/byte_stream.cpp batch/rmevents/ad_streams.cpp
  batch/rmevents/control_texts.cpp batch/rmevents/rm_scan.cpp batch/rmevents/clean_plan.cpp
  batch/rmevents/rm_writer.cpp batch/rmevents/command_line.cpp batch/rmevents/tool.cpp
  batch/rmevents/log_language.cpp)
# The crash reporter's stored formats and texts.
set(PURE_OPTION_STREAM
  crashlog/infra/options/option_stream.cpp crashlog/infra/options/eldata.cpp crashlog/infra/options/module_payload.cpp)
set(PURE_DEBUG_INFO
  crashlog/infra/debuginfo/debug_info_format.cpp crashlog/infra/debuginfo/debug_info_writer.cpp
  crashlog/infra/debuginfo/modules_exports.cpp)
set(PURE_DIAGNOSTICS_TEXT
  crashlog/infra/diagnostics/trace_format.cpp crashlog/infra/diagnostics/diagnostics_exception.cpp
  crashlog/infra/diagnostics/diagnostics_text.cpp crashlog/infra/diagnostics/version_facts.cpp)
set(PURE_MACHINE_TEXT crashlog/machine/machine_text.cpp)
set(PURE_LOG_FORMAT crashlog/capture/log_file_format.cpp)
set(PURE_REPORT_EXTRAS crashlog/capture/minidump_file.cpp crashlog/capture/report_additions.cpp)
set(PURE_DELIVERY_TEXT
  crashlog/delivery/png_writer.cpp crashlog/delivery/mail_text.cpp crashlog/delivery/dns_message.cpp
  crashlog/delivery/smtp_reply.cpp crashlog/delivery/smtp_session_rules.cpp crashlog/delivery/tls_record.cpp)
# The host tools' own parts.
set(PURE_ELDATA_TOOL
  tools/eldata/debug_model.cpp tools/eldata/pe_image.cpp tools/eldata/pe_resources.cpp tools/eldata/options_file.cpp)
set(PURE_REPORT_TOOL
  tools/crashlog_report/transfer_decoding.cpp tools/crashlog_report/mime_message.cpp
  tools/crashlog_report/report_entry.cpp tools/crashlog_report/report_groups.cpp
  tools/crashlog_report/report_output.cpp tools/crashlog_report/report_sources.cpp)

function(pelloran_pure_sources out)
  set(files)
  foreach(list IN LISTS ARGN)
    if(NOT DEFINED ${list})
      message(FATAL_ERROR "pelloran_pure_sources: no source list ${list}")
    endif()
    foreach(file IN LISTS ${list})
      list(APPEND files ${PELLORAN_ROOT}/${file})
    endforeach()
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

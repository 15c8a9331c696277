# The layers of src/, bottom first. Each is a library target; a file belongs to the first
# layer one of whose patterns (paths relative to src/) matches it, and may include files of its
# own layer and of the layers it uses. src/CMakeLists.txt builds the targets from this table and
# cmake/check_includes.cmake checks every include line against it.
#
#   base      the platform's base types: target detection, COM and APO declarations, the
#             floating-point guard, Win32 error codes; headers only, no OS services
#   platform  OS services (files, mappings, events, threads, clocks, registry)
#   record    the parameter record and its field table, the shared-block layout, reader and
#             meter publisher, the meters layout, the stream format; no OS calls
#   signal    the voice chain and its stages, the noise suppressor and the voice effect; no
#             OS calls
#   channel   data folder, diagnostic log, parameter channel and its watcher
#   engine    the block frame (the APOProcess body) and the processing lifecycle
#   apo       the COM shell
set(VORLUND_LAYERS base platform record signal channel engine apo)

# vorlund_version.h is generated into the build folder from cmake/vorlund_version.h.in.
set(VORLUND_LAYER_base_FILES
    platform/platform.h platform/com/* platform/denormal_guard.h platform/error_codes.h
    platform/format_attribute.h platform/library_export.h platform/native_handle.h
    vorlund_version.h)
set(VORLUND_LAYER_base_USES "")

set(VORLUND_LAYER_platform_FILES platform/*)
set(VORLUND_LAYER_platform_USES base)

set(VORLUND_LAYER_record_FILES
    engine/parameter_block.* engine/field_table.* engine/shared_block.* engine/chain_meters.h
    engine/meter_table.h engine/stream_format.*)
set(VORLUND_LAYER_record_USES base)

set(VORLUND_LAYER_signal_FILES chain/* suppressor/*)
set(VORLUND_LAYER_signal_USES base record)

set(VORLUND_LAYER_channel_FILES channel/*)
set(VORLUND_LAYER_channel_USES base platform record)

set(VORLUND_LAYER_engine_FILES engine/*)
set(VORLUND_LAYER_engine_USES base platform record signal channel)

set(VORLUND_LAYER_apo_FILES apo/*)
set(VORLUND_LAYER_apo_USES base platform record signal channel engine)

# Headers of the operating system, which only the platform layers may include.
set(VORLUND_OS_HEADERS
    windows.h objbase.h winbase.h winreg.h shlobj.h combaseapi.h unistd.h pthread.h fcntl.h
    dlfcn.h dirent.h errno.h poll.h signal.h spawn.h time.h sched.h semaphore.h "sys/.*")

# Sets `out` to the layer of `path` (relative to src/), or to "" when no layer claims it.
function(vorlund_layer_of path out)
  foreach(layer IN LISTS VORLUND_LAYERS)
    foreach(pattern IN LISTS VORLUND_LAYER_${layer}_FILES)
      string(REPLACE "." "\\." regex "${pattern}")
      string(REPLACE "*" "[^/]*" regex "${regex}")
      if(path MATCHES "^${regex}$" OR (pattern MATCHES "/\\*$" AND path MATCHES "^${regex}/"))
        set(${out} ${layer} PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

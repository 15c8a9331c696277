# The layers of src/, bottom first. Each is a library target. Every file of src/ names its layer
# in its first line, "// Layer: <name>", among the layers its folder holds (below); it may
# include files of its own layer and of the layers it uses. src/CMakeLists.txt builds the
# targets from those lines and cmake/check_includes.cmake checks every file and include against
# them.
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

set(VORLUND_LAYER_base_USES "")
set(VORLUND_LAYER_platform_USES base)
set(VORLUND_LAYER_record_USES base)
set(VORLUND_LAYER_signal_USES base record)
set(VORLUND_LAYER_channel_USES base platform record)
set(VORLUND_LAYER_engine_USES base platform record signal channel)
set(VORLUND_LAYER_apo_USES base platform record signal channel engine)

# The layers each top folder of src/ (with its subfolders) may hold.
set(VORLUND_FOLDER_platform_LAYERS base platform)
set(VORLUND_FOLDER_engine_LAYERS record engine)
set(VORLUND_FOLDER_chain_LAYERS signal)
set(VORLUND_FOLDER_suppressor_LAYERS signal)
set(VORLUND_FOLDER_channel_LAYERS channel)
set(VORLUND_FOLDER_apo_LAYERS apo)

# Headers generated into the build folder, which carry no line of their own: name=layer.
set(VORLUND_GENERATED_HEADERS vorlund_version.h=base)

# Headers of the operating system, which only the platform layers may include.
set(VORLUND_OS_HEADERS
    windows.h objbase.h winbase.h winreg.h shlobj.h combaseapi.h unistd.h pthread.h fcntl.h
    dlfcn.h dirent.h errno.h poll.h signal.h spawn.h time.h sched.h semaphore.h "sys/.*")

# Sets `out` to the layer src/`path` names in its first line, or to "" and `fault` to the
# reason when it names none, an unknown one, or one its folder does not hold.
function(vorlund_layer_of source_dir path out fault)
  set(${out} "" PARENT_SCOPE)
  file(STRINGS ${source_dir}/${path} first LIMIT_COUNT 1)
  if(NOT first MATCHES "^// Layer: ([a-z]+)$")
    set(${fault} "no \"// Layer: <name>\" first line" PARENT_SCOPE)
    return()
  endif()
  set(layer ${CMAKE_MATCH_1})
  string(REGEX REPLACE "/.*" "" folder "${path}")
  if(NOT layer IN_LIST VORLUND_FOLDER_${folder}_LAYERS)
    set(${fault} "layer ${layer} is not one of folder ${folder}/'s (${VORLUND_FOLDER_${folder}_LAYERS})"
        PARENT_SCOPE)
    return()
  endif()
  set(${out} ${layer} PARENT_SCOPE)
endfunction()

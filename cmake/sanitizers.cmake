# VORLUND_SANITIZE=address,undefined (the linux-asan preset) or thread (linux-tsan) instruments
# every target.
set(VORLUND_SANITIZE "" CACHE STRING "Comma-separated -fsanitize= list, empty for none")
if(VORLUND_SANITIZE)
  add_compile_options(-fsanitize=${VORLUND_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VORLUND_SANITIZE})
  # GCC warns that ThreadSanitizer does not model fences. The shared-block protocol keeps
  # every shared word atomic, so the sanitizer checks it without them.
  if(VORLUND_SANITIZE MATCHES "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-tsan)
  endif()
endif()

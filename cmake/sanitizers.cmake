# VORLUND_SANITIZE=address,undefined (the linux-asan preset) instruments every target.
set(VORLUND_SANITIZE "" CACHE STRING "Comma-separated -fsanitize= list, empty for none")
if(VORLUND_SANITIZE)
  add_compile_options(-fsanitize=${VORLUND_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VORLUND_SANITIZE})
endif()

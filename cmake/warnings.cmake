# Project-wide warning set; CI turns warnings into errors.
add_library(vorlund_warnings INTERFACE)
target_compile_options(vorlund_warnings INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                                                  -Wno-non-virtual-dtor)
if(VORLUND_WERROR)
  target_compile_options(vorlund_warnings INTERFACE -Werror)
endif()

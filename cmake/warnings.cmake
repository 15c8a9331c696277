# Project-wide warning set; CI turns warnings into errors.
add_library(vorlund_warnings INTERFACE)
target_compile_options(vorlund_warnings INTERFACE -Wall -Wextra -Wshadow)
if(VORLUND_WERROR)
  target_compile_options(vorlund_warnings INTERFACE -Werror)
endif()

# The product's own code (src/, tools/, plugins/) also warns when a float is silently widened to
# double, which on the signal path means double arithmetic where single precision was meant.
# Tests and benchmarks widen on purpose, to measure in double.
set(VORLUND_PRODUCT_WARNINGS -Wdouble-promotion)

# Project code builds warning-free with -Wall -Wextra; warnings are errors so none creep in.
function(eft_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# Project code builds warning-free with -Wall -Wextra. Warnings become errors only on request
# (EFTMEMB_WERROR, which our own scripts and CI turn on): a user's newer or older compiler may
# warn where ours does not, and that must not stop their build.
option(EFTMEMB_WERROR "Treat compiler warnings in project code as errors" OFF)

function(eft_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(EFTMEMB_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

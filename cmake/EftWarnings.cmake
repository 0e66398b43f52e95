# Project code builds warning-free with -Wall -Wextra. Our own test run fails on any warning
# (scripts/test.sh reads the warnings scripts/compile-launcher.sh keeps beside each object), and
# EFTMEMB_WERROR makes them errors in a build configured by hand. A user's newer or older compiler
# may warn where ours does not, and that must not stop their build.
option(EFTMEMB_WERROR "Treat compiler warnings in project code as errors" OFF)

set(EFT_WARNING_FLAGS -Wall -Wextra)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 12.3
   AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
  # GCC 12 before 12.3 (Debian 12 has 12.2) flags libstdc++'s own std::string::insert, which
  # `"literal" + std::string(...)` inlines at -O2 and above, as an overlapping memcpy in
  # <bits/char_traits.h> (-Wrestrict false positives, GCC bugs 105329 and 105651).
  list(APPEND EFT_WARNING_FLAGS -Wno-restrict)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT EFTMEMB_SANITIZE STREQUAL "")
  # With sanitizers GCC's flow analysis reports members of libstdc++'s <regex> automaton
  # states (the std::function matcher moved in bits/regex_automaton.h) as maybe used
  # uninitialized; GCC's manual warns that -fsanitize can cause such false positives.
  list(APPEND EFT_WARNING_FLAGS -Wno-maybe-uninitialized)
endif()

function(eft_warnings target)
  target_compile_options(${target} PRIVATE ${EFT_WARNING_FLAGS})
  if(EFTMEMB_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

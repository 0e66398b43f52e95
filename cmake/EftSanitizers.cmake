# EFTMEMB_SANITIZE: a comma-separated list of sanitizers (address, undefined, thread, leak)
# that every target is compiled and linked with. UBSan stops at the first fault, so a fault
# fails the test that met it instead of scrolling past in its output.
#
# EFTMEMB_FUZZ (clang only): every target also gets libFuzzer's coverage instrumentation, and
# fuzz/ builds one libFuzzer executable per input entry point. Without an explicit
# EFTMEMB_SANITIZE a fuzz build takes address,undefined, so the fuzzer notices more than crashes.
set(EFTMEMB_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")
option(EFTMEMB_FUZZ "Build the libFuzzer targets in fuzz/ (needs clang)" OFF)

if(EFTMEMB_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "EFTMEMB_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  if(EFTMEMB_SANITIZE STREQUAL "")
    set(EFTMEMB_SANITIZE address,undefined)
  endif()
endif()

# Flags the consumer-project test hands on to a project built against this build's install.
set(EFT_SANITIZER_FLAGS "")
if(NOT EFTMEMB_SANITIZE STREQUAL "")
  set(EFT_SANITIZER_FLAGS -fsanitize=${EFTMEMB_SANITIZE} -fno-omit-frame-pointer)
  if(EFTMEMB_SANITIZE MATCHES "undefined")
    list(APPEND EFT_SANITIZER_FLAGS -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${EFT_SANITIZER_FLAGS})
  add_link_options(${EFT_SANITIZER_FLAGS})
endif()
if(EFTMEMB_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

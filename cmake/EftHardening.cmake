# Every library and program is built hardened, whatever the build type, so the Debian package
# inherits it: stack protectors, checked string and memory calls where the optimiser can see
# the sizes (_FORTIFY_SOURCE needs optimisation), and a read-only relocation table bound at
# start-up (full RELRO).
add_compile_options(-fstack-protector-strong
  "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
add_link_options(LINKER:-z,relro LINKER:-z,now)

# Hardening of every optimised build (Release, RelWithDebInfo: what ships and
# what the tests run), as Debian hardens its own packages: checked buffer
# functions, stack protection, a read-only relocation table resolved at start
# (-z relro, -z now), control-flow protection. Debug builds stay as they are:
# the buffer checks need optimisation, and the sanitizers check more.
if(NOT QM_SANITIZE AND NOT QM_FUZZ)
  set(_qm_optimised "$<NOT:$<CONFIG:Debug>>")
  add_compile_options("$<${_qm_optimised}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>"
    -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()

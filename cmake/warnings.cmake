# Warning flags and the floating-point contract in one INTERFACE target.
# Every result must be the IEEE double rounding of each operation in the
# order written, at every optimisation level and on every target, so
# contraction of a*b+c into a fused multiply-add is switched off and
# nothing that reassociates is ever enabled.
add_library(trislip_flags INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(trislip_flags INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -ffp-contract=off -fno-fast-math)
  # GCC 12's vectorizer turns the complex products of the transform into
  # fused multiply-add-subtract instructions whatever -ffp-contract says
  # (seen with -O3 -march=native), so it is kept out of this code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(trislip_flags INTERFACE -fno-tree-vectorize)
  endif()
  # 32-bit x86 would otherwise compute in x87 extended precision.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "i.86|x86|X86|AMD64|amd64|x86_64")
    target_compile_options(trislip_flags INTERFACE -msse2 -mfpmath=sse)
  endif()
elseif(MSVC)
  target_compile_options(trislip_flags INTERFACE /W4 /fp:precise)
endif()

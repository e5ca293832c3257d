# Fails unless every translation unit in a build's compile_commands.json is
# compiled with -ffp-contract=off and without fast-math, which would change
# the animation's arithmetic.
# Usage: cmake -DCOMMANDS=build/compile_commands.json -P check-flags.cmake
file(READ "${COMMANDS}" json)
string(JSON count LENGTH "${json}")
if(count EQUAL 0)
  message(FATAL_ERROR "${COMMANDS} lists no translation units")
endif()
math(EXPR last "${count} - 1")
set(failed 0)
foreach(i RANGE ${last})
  string(JSON command GET "${json}" ${i} command)
  string(JSON source GET "${json}" ${i} file)
  # The last -ffp-contract= on the line is the one that counts.
  string(REGEX MATCHALL "-ffp-contract=[a-z]+" contracts "${command}")
  list(POP_BACK contracts contract)
  if(NOT contract STREQUAL "-ffp-contract=off" OR command MATCHES "-ffast-math|-Ofast|-funsafe-math")
    message("${source}: ${command}")
    math(EXPR failed "${failed} + 1")
  endif()
endforeach()
if(failed GREATER 0)
  message(FATAL_ERROR "${failed} of ${count} translation units lack -ffp-contract=off or use fast-math")
endif()
message(STATUS "${count} translation units keep the floating-point flags")

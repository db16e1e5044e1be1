# tavocom check: the samples pass; each broken component fails under its
# own rule and no other. Run by ctest with TOOL, EMULATOR and SUFFIX.
include(${CMAKE_CURRENT_LIST_DIR}/tool_step.cmake)

step(0 "greeter${SUFFIX}: passed" check greeter${SUFFIX})
step(0 "tavo_decoder${SUFFIX}: passed" check tavo_decoder${SUFFIX})
step(0 "counter${SUFFIX}: passed" check --codes 0x81A50001,0x81A50002 counter${SUFFIX})

set(interfaces --interface "{2D6F1A91-7B3C-4E21-9A55-0E48C1376B02}" --interface "{2D6F1A92-7B3C-4E21-9A55-0E48C1376B02}")
step(0 "broken_none${SUFFIX}: passed" check ${interfaces} broken_none${SUFFIX})

# Fault, then the one rule it must fail.
set(faults
  no_can_unload exports.entry
  unload_always unload
  not_symmetric qi.symmetric
  identity qi.identity
  over_release refcount
  leaves_key registration.removal
  count_kept registration.count
  decoder_no_text decoder.decode
  null_out_crash factory.null-out
  hang class
  register_crash registration)
while(faults)
  list(POP_FRONT faults fault rule)
  step(1 "" check --tsv --timeout 5 ${interfaces} broken_${fault}${SUFFIX})
  string(REGEX MATCHALL "\tfail\t[^\t]+\t" failed "${output}")
  list(REMOVE_DUPLICATES failed)
  if(NOT failed STREQUAL "\tfail\t${rule}\t")
    message(FATAL_ERROR "broken_${fault}: failed rules '${failed}', expected only '${rule}'")
  endif()
endwhile()

# The crash and the hang are findings of their step, and the steps after
# them still run.
step(1 "FAIL factory.null-out [^:]*: crashed" check broken_null_out_crash${SUFFIX})
step(1 "\tfail\tclass\t[^\n]*hung.*\tpass\tdecoder.decode\t" check --timeout 5 --tsv broken_hang${SUFFIX})

# Without its registration, the classes named on the command line are checked.
step(1 "FAIL registration [^\n]*crashed.*broken_register_crash${SUFFIX}: FAILED \\(1[0-9] checks passed, 1 failed"
     check --class "{2D6F1A90-7B3C-4E21-9A55-0E48C1376B02}" broken_register_crash${SUFFIX})

step(2 "no library given" check)
step(2 "is no identifier" check --class nonsense greeter${SUFFIX})

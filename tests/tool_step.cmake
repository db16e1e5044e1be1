# Standard input of every step: an empty file, never the terminal ctest may
# run on, so a command that would ask a question refuses instead of waiting.
set(step_input ${CMAKE_CURRENT_BINARY_DIR}/tool_step.stdin)
file(WRITE ${step_input} "")

# run_step(EXIT_CODE REGEX COMMAND...): runs COMMAND and checks its exit code
# and its output (standard output and error together), which it leaves in
# `output` for the caller.
function(run_step code regex)
  execute_process(COMMAND ${ARGN} INPUT_FILE ${step_input} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(LENGTH "${out}${err}" length)
  if(length LESS 4000)
    message(STATUS "${ARGN} -> ${rc}\n${out}${err}")
  else()
    string(SUBSTRING "${out}${err}" 0 4000 head)
    message(STATUS "${ARGN} -> ${rc}\n${head}... (${length} characters)")
  endif()
  if(NOT rc STREQUAL "${code}")
    message(FATAL_ERROR "${ARGN}: exit code ${rc}, expected ${code}")
  endif()
  if(NOT "${out}${err}" MATCHES "${regex}")
    message(FATAL_ERROR "${ARGN}: output does not match '${regex}'")
  endif()
  set(output "${out}${err}" PARENT_SCOPE)
endfunction()

# step(EXIT_CODE REGEX ARGS...): the tool (TOOL, under EMULATOR) with ARGS.
function(step code regex)
  run_step(${code} "${regex}" ${EMULATOR} ${TOOL} ${ARGN})
  set(output "${output}" PARENT_SCOPE)
endfunction()

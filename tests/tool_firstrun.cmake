# A first run of the tool as a new user makes it: help for one command, a
# hive that cannot be written, and the demo without any hive chosen.
include(${CMAKE_CURRENT_LIST_DIR}/tool_step.cmake)

set(run ${EMULATOR} ${TOOL})
run_step(0 "usage: tavocom reg query\\|add\\|delete KEY.*example:\n  tavocom reg add " ${run} help reg)
run_step(2 "no command 'nonsense'" ${run} help nonsense)

# Hive files exist on Linux only: Windows keeps the system registry, whose
# machine hive cannot be made unwritable under Wine.
if(NOT HIVE_FILES)
  return()
endif()

# A hive below a regular file cannot be written even by root.
set(dir ${BIN}/tooltest-firstrun)
file(REMOVE_RECURSE ${dir})
file(WRITE ${dir}/blocker "")
set(blocked "TAVOCOM_MACHINE_HIVE=${dir}/blocker/machine.db")
set(hint "machine hive ${dir}/blocker/machine.db cannot be written.*point TAVOCOM_MACHINE_HIVE at a file")
run_step(1 "create failed.*${hint}" ${CMAKE_COMMAND} -E env ${blocked} ${run} reg add "HKLM\\Software\\Quorvalltech\\X")
run_step(5 "at least one class failed.*${hint}" ${CMAKE_COMMAND} -E env ${blocked} ${run} register --runtime)

# The demo with no hive chosen, as a user who may not write the machine
# hive: as nobody when the tests run as root.
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
set(as_user)
if(uid STREQUAL "0")
  find_program(SETPRIV setpriv REQUIRED)
  set(as_user ${SETPRIV} --reuid=65534 --regid=65534 --clear-groups)
endif()
run_step(0 "this demo uses a scratch store in ([^ ]+), removed at the end.*it says: Hello, demo!.*CanUnloadNow: S_OK"
     ${CMAKE_COMMAND} -E env --unset=TAVOCOM_MACHINE_HIVE --unset=TAVOCOM_USER_HIVE ${as_user} ${run} demo)
string(REGEX MATCH "scratch store in ([^ ]+)," found "${output}")
if(EXISTS "${CMAKE_MATCH_1}")
  message(FATAL_ERROR "the demo left its scratch store ${CMAKE_MATCH_1}")
endif()
file(REMOVE_RECURSE ${dir})

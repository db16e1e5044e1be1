# A first run of the tool as a new user makes it: help for one command, a
# hive that cannot be written, and the demo without any hive chosen.
include(${CMAKE_CURRENT_LIST_DIR}/tool_step.cmake)

set(run ${EMULATOR} ${TOOL})
run_step(0 "usage: tavocom reg query\\|add\\|delete KEY.*example:\n  tavocom reg add " ${run} help reg)
run_step(2 "no command 'nonsense'" ${run} help nonsense)
# Help words on every command, a suggestion for a mistyped one, and every
# number checked before anything runs.
foreach(row "0|usage: tavocom register|register,--help" "0|usage: tavocom create|create,-h"
            "0|usage: tavocom reg |reg,add,/?" "0|^TAVOCOM64 [0-9.]+ |--version"
            "2|unknown command 'regster'. did you mean 'register'\\?|regster"
            "2|no command 'doctr'. did you mean 'doctor'\\?|help,doctr"
            "0|^{0x[0-9A-F]+, 0x[0-9A-F]+, 0x[0-9A-F]+, {(0x[0-9A-F][0-9A-F], )+0x[0-9A-F][0-9A-F]}} // {|guid-new,--cpp"
            "2|COUNT must be a number from 1 to 100000: 0|guid-new,0"
            "1|exports: \\. is a directory, not a library file|exports,."
            "2|COUNT must be a number from 1 to 1000000: abc|memory,4,abc,40"
            "2|TYPE must be a number from 1 to 4: 5|memory,5,10,40"
            "2|SIZE must be a number from 0 to 1073741824: 4x|memory,1,10,4x"
            "2|COUNT \\* SIZE must be at most 1073741824 bytes|memory,3,1000000,100000,65536"
            "2|\"{D41060A0-F9F7}\" is a malformed class identifier|create,{D41060A0-F9F7}"
            "2|\"nonsense\" is not an interface identifier|create,{9B1678EE-3BF3-4E44-8988-5BA1E0A5E668},nonsense")
  string(REPLACE "|" ";" row "${row}")
  list(POP_FRONT row code regex)
  string(REPLACE "," ";" row "${row}")
  run_step(${code} "${regex}" ${run} ${row})
endforeach()

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
# A hive file that is no database is named, with the way out.
file(WRITE ${dir}/damaged.db "not a database, not a database, not a database")
run_step(1 "the machine hive ${dir}/damaged.db is damaged.*point TAVOCOM_MACHINE_HIVE at another file"
         ${CMAKE_COMMAND} -E env TAVOCOM_MACHINE_HIVE=${dir}/damaged.db ${run} classes)

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

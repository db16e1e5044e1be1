# tavocom reg as a user runs it, against a registry of this test's own: a
# tree as deep as the store takes, on a small stack; refused input and
# changes that fail halfway leave nothing behind; export writes no file that
# import would refuse.
include(${CMAKE_CURRENT_LIST_DIR}/tool_step.cmake)

set(root "HKCU\\Software\\Quorvalltech\\$ENV{COM_VERSION}")
set(dir ${BIN}/tooltest-reg)
file(REMOVE_RECURSE ${dir})
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND ${EMULATOR} ${TOOL} reg delete "${root}" OUTPUT_QUIET ERROR_QUIET)

# On Linux the deep tree's commands run with a stack of 256 KB, where a
# recursive walk of 512 levels overflows. (Under Wine the process's stack is
# the program's own; reg_text_test walks on a small thread there.)
set(small)
if(NOT EMULATOR)
  set(small sh -c "ulimit -s 256 && exec \"$@\"" sh)
endif()
# 512 levels below the hive: the root is the third.
string(REPEAT "\\k" 509 deep)
file(WRITE ${dir}/deep.reg "REGEDIT4\n[${root}${deep}]\n\"v\"=\"deepest\"\n")
step(0 "imported 1 keys" reg import ${dir}/deep.reg)
run_step(0 "\\\\k\n    v +REG_SZ +deepest\n$" ${small} ${EMULATOR} ${TOOL} reg query "${root}" /s)
run_step(0 "exported 510 keys" ${small} ${EMULATOR} ${TOOL} reg export "${root}" ${dir}/deep-out.reg)
run_step(0 "^$" ${small} ${EMULATOR} ${TOOL} reg delete "${root}\\k")
step(1 "open failed with error 2" reg query "${root}\\k")
step(0 "imported 510 keys" reg import ${dir}/deep-out.reg)

# Refused input writes nothing: a malformed file, one with keys of both
# hives, a type or number that reg add does not take.
file(WRITE ${dir}/bad.reg "REGEDIT4\r\n[${root}\\Bad]\r\n\"v\"=\"x\"\r\n\"w\"=hex:0\r\n")
step(1 "bad.reg:4: expected a hex byte.*nothing was written" reg import ${dir}/bad.reg)
file(WRITE ${dir}/both.reg "REGEDIT4\r\n[${root}\\Bad]\r\n\"v\"=\"x\"\r\n[HKEY_LOCAL_MACHINE\\Software\\Bad]\r\n")
step(1 "both.reg:4: keys of both hives in one file.*nothing was written" reg import ${dir}/both.reg)
step(2 "type must be REG_SZ or REG_DWORD: REG_FOO" reg add "${root}\\Bad" /v v /t REG_FOO /d 1)
step(2 "REG_DWORD data must be a number: x" reg add "${root}\\Bad" /v v /t REG_DWORD /d x)
step(1 "open failed with error 2" reg query "${root}\\Bad")

# A reg add whose value cannot be written (a name of 16,384 characters) is
# one transaction in the store: the key goes with it. The platform registry
# keeps the key it made.
string(REPEAT "v" 16384 long)
step(1 "set value failed with error 87" reg add "${root}\\Half" /v ${long} /d x)
if(HIVE_FILES)
  step(1 "open failed with error 2" reg query "${root}\\Half")
else()
  step(0 "Half" reg query "${root}\\Half")
endif()

# Writes that fail halfway, where the hive file may not grow past 64 KB:
# reg add and reg delete leave the hive as it was (the store's batch).
if(HIVE_FILES)
  set(io ${CMAKE_COMMAND} -E env TAVOCOM_USER_HIVE=${dir}/io/user.db)
  set(limited sh -c "trap '' XFSZ && exec prlimit --fsize=65536 \"$@\"" sh)
  string(REPEAT "y" 2000 text)
  set(lines "REGEDIT4\n")
  foreach(i RANGE 1 200)
    string(APPEND lines "[HKEY_CURRENT_USER\\Software\\Tree\\k${i}]\n\"v\"=\"${text}\"\n")
  endforeach()
  file(WRITE ${dir}/tree.reg "${lines}")
  run_step(0 "imported 200 keys" ${io} ${TOOL} reg import ${dir}/tree.reg)
  string(REPEAT "x" 120000 text)
  run_step(1 "commit failed with error 1016" ${io} ${limited} ${TOOL} reg add "HKCU\\Software\\Half" /v v /d ${text})
  run_step(1 "open failed with error 2" ${io} ${TOOL} reg query "HKCU\\Software\\Half")
  run_step(1 "failed with error 1016" ${io} ${limited} ${TOOL} reg delete "HKCU\\Software\\Tree")
  run_step(0 "Tree\\\\k1\n.*Tree\\\\k99\n" ${io} ${TOOL} reg query "HKCU\\Software\\Tree")
endif()

# A text of 34 MB comes in from a file of that size and would go out as one
# of twice that, over the 64 MB that import reads: export refuses it.
string(REPEAT "x" 34000000 big)
file(WRITE ${dir}/big.reg "REGEDIT4\n[${root}\\Big]\n\"v\"=\"${big}\"\n")
set(big)
step(0 "imported 1 keys" reg import ${dir}/big.reg)
step(1 "larger than 64 MB, which reg import does not read; nothing was written" reg export "${root}\\Big"
     ${dir}/big-out.reg)
if(EXISTS ${dir}/big-out.reg)
  message(FATAL_ERROR "export wrote ${dir}/big-out.reg although it refused it")
endif()

execute_process(COMMAND ${EMULATOR} ${TOOL} reg delete "${root}" OUTPUT_QUIET ERROR_QUIET)
file(REMOVE_RECURSE ${dir})

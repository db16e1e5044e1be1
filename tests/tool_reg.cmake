# tavocom reg as a user runs it, against a registry of this test's own: a
# tree as deep as the store takes, on a small stack; refused input and
# changes that fail halfway leave nothing behind; export writes no file that
# import would refuse.
include(${CMAKE_CURRENT_LIST_DIR}/tool_step.cmake)

set(root "HKCU\\Software\\Quorvalltech\\$ENV{COM_VERSION}")
set(dir ${BIN}/tooltest-reg)
file(REMOVE_RECURSE ${dir})
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND ${EMULATOR} ${TOOL} reg delete "${root}" /f OUTPUT_QUIET ERROR_QUIET)

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
run_step(0 "^$" ${small} ${EMULATOR} ${TOOL} reg delete "${root}\\k" /f)
step(1 "open failed with error 2" reg query "${root}\\k")
step(0 "imported 510 keys" reg import ${dir}/deep-out.reg)

# Refused input writes nothing: a malformed file, one with keys of both
# hives, a type or number that reg add does not take.
file(WRITE ${dir}/bad.reg "REGEDIT4\r\n[${root}\\Bad]\r\n\"v\"=\"x\"\r\n\"w\"=hex:0\r\n")
step(1 "bad.reg:4: expected a hex byte.*nothing was written" reg import ${dir}/bad.reg)
file(WRITE ${dir}/both.reg "REGEDIT4\r\n[${root}\\Bad]\r\n\"v\"=\"x\"\r\n[HKEY_LOCAL_MACHINE\\Software\\Bad]\r\n")
step(1 "both.reg:4: keys of both hives in one file.*nothing was written" reg import ${dir}/both.reg)
# Each refused add: exit code, message, arguments after the key (split at commas).
set(refused
  "2|unsupported type REG_FOO|/v,v,/t,REG_FOO,/d,1"
  "2|REG_DWORD data must be a number from 0 to 4294967295.*: x|/v,v,/t,REG_DWORD,/d,x"
  "2|REG_DWORD data must be a number.*: -1|/v,v,/t,REG_DWORD,/d,-1"
  "2|REG_DWORD data must be a number.*: 4294967296|/v,v,/t,REG_DWORD,/d,4294967296"
  "2|REG_DWORD data must be a number.*\\(no /d\\)|/v,v,/t,REG_DWORD"
  "2|REG_QWORD data must be a number.*: 0x10000000000000000|/v,v,/t,REG_QWORD,/d,0x10000000000000000"
  "2|REG_BINARY data must be hexadecimal digits.*: 0xab|/v,v,/t,REG_BINARY,/d,0xab"
  "2|REG_BINARY data must be hexadecimal digits.*: 0a 0b|/v,v,/t,REG_BINARY,/d,0a 0b"
  "2|REG_MULTI_SZ data has an empty string before a separator: #a|/v,v,/t,REG_MULTI_SZ,/s,#,/d,#a"
  "2|the /s separator must be one character: ##|/v,v,/t,REG_MULTI_SZ,/s,##,/d,a"
  "2|more than one of /v and /ve|/v,v,/ve"
  "2|unknown or incomplete option for this operation: /va|/va"
  "2|unknown or incomplete option for this operation: /d|/v,v,/d")
foreach(row IN LISTS refused)
  string(REPLACE "|" ";" row "${row}")
  list(POP_FRONT row code regex)
  string(REPLACE "," ";" row "${row}")
  step(${code} "${regex}" reg add "${root}\\Bad" ${row})
endforeach()
step(2 "/va deletes every value; it takes no /v or /ve" reg delete "${root}" /va /v x)
step(2 "unknown or incomplete option for this operation: /t" reg delete "${root}" /t REG_SZ)
step(1 "open failed with error 2" reg query "${root}\\Bad")

# Every type reg add writes, stored as the platform tool stores it: our
# export is byte for byte the one that tool wrote after the same adds.
set(types "${root}\\Types")
step(0 "" reg add ${types} /ve /d deflt)
step(0 "" reg add ${types} /v b /t REG_BINARY /d abc)
step(0 "" reg add ${types} /v d /t reg_dword /d 010)
step(0 "" reg add ${types} /v e /t REG_EXPAND_SZ /d "%X%y")
step(0 "" reg add ${types} /v m /t REG_MULTI_SZ /d "one\\0two")
step(0 "" reg add ${types} /v n /t REG_NONE /d hi)
step(0 "" reg add ${types} /v q /t REG_QWORD /d 0x100000000)
step(0 "" reg add ${types} /v s /t REG_MULTI_SZ /d "a#b" /s "#")
step(0 "" reg add ${types} /v z /t REG_SZ /d text)
step(0 "    m +REG_MULTI_SZ +one\\\\0two\n.*    q +REG_QWORD +0x0000000100000000 \\(4294967296\\)" reg query ${types})
step(0 "exported 1 keys" reg export ${types} ${dir}/types.reg)
file(READ ${dir}/types.reg ours HEX)
file(READ ${CMAKE_CURRENT_LIST_DIR}/data/reg_add_types.reg theirs HEX)
if(NOT ours STREQUAL theirs)
  message(FATAL_ERROR "reg add stored other data than the platform tool: compare ${dir}/types.reg")
endif()

# Overwriting a value and deleting ask first; without a terminal to ask on
# they are refused and change nothing, with /f they go ahead.
foreach(args "add,/v,z,/d,other" "add,/ve,/d,x" "delete,/v,z" "delete,/va" "delete")
  string(REPLACE "," ";" args "${args}")
  list(INSERT args 1 ${types})
  step(1 "not confirmed \\(standard input is not a terminal\\); nothing was changed: add /f to" reg ${args})
endforeach()
step(0 "    z +REG_SZ +text\n" reg query ${types})
step(0 "" reg add ${types} /v new /d x)
step(0 "" reg add ${types} /v z /t REG_DWORD /d 1 /f)
step(0 "    z +REG_DWORD +0x00000001" reg query ${types} /v z)
step(0 "" reg delete ${types} /v z /f)
step(1 "delete value failed with error 2" reg delete ${types} /v z /f)
step(0 "" reg delete ${types} /va /f)
step(0 "^HKEY_CURRENT_USER[^\n]*Types\n$" reg query ${types})
# On a terminal the question waits for its answer.
find_program(SCRIPT script)
if(NOT EMULATOR AND SCRIPT)
  foreach(answer "n|1|nothing was changed" "y|0|Delete the key")
    string(REPLACE "|" ";" answer "${answer}")
    list(POP_FRONT answer reply code regex)
    run_step(${code} "${regex}" sh -c "printf '${reply}\\n' | ${SCRIPT} -qec '${TOOL} reg delete \"${types}\"' /dev/null")
  endforeach()
  step(1 "open failed with error 2" reg query ${types})
endif()

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
  run_step(1 "failed with error 1016" ${io} ${limited} ${TOOL} reg delete "HKCU\\Software\\Tree" /f)
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

execute_process(COMMAND ${EMULATOR} ${TOOL} reg delete "${root}" /f OUTPUT_QUIET ERROR_QUIET)
file(REMOVE_RECURSE ${dir})

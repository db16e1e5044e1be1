# tavocom register, categories and classes as a user runs them: expected
# exit codes and output, against a registry of this test's own.
set(root "HKLM\\Software\\Quorvalltech\\$ENV{COM_VERSION}")

include(${CMAKE_CURRENT_LIST_DIR}/tool_step.cmake)

# A fresh registry: the hive files (Linux) or the version key (Windows).
if(DEFINED ENV{TAVOCOM_MACHINE_HIVE})
  get_filename_component(hive_dir "$ENV{TAVOCOM_MACHINE_HIVE}" DIRECTORY)
  file(REMOVE_RECURSE "${hive_dir}")
  file(MAKE_DIRECTORY "${hive_dir}")
endif()
execute_process(COMMAND ${EMULATOR} ${TOOL} reg delete "${root}" /f OUTPUT_QUIET ERROR_QUIET)

set(greeter "greeter${SUFFIX}")
step(0 "^no problems" doctor)
# Arguments: the platform tool's options, never an option taken for a file,
# the runtime only by its word; nothing registered by a refused line.
foreach(args "" "/x;${greeter}" "--bogus;${greeter}" "-u")
  step(2 "usage: tavocom register" register ${args})
endforeach()
step(0 "^no problems" doctor)
step(0 "usage: tavocom register.*--runtime" register --help)
step(0 "usage: tavocom register" register /?)
step(0 "${LIBRARY}: registered \\(0x00000000\\)" register --runtime)
step(0 "${greeter}: registered.*${greeter}: activation loads 1 classes from [^\n]*${greeter}\n$" register ${greeter})
step(0 "^$" register /s ${greeter})
step(0 "${greeter}: still registered \\(1 left\\)" register /u ${greeter})
# Registered from another directory than the runtime's: activation loads
# the runtime's neighbour all the same, and register says so.
file(MAKE_DIRECTORY ${BIN}/tooltest-elsewhere)
file(COPY_FILE ${BIN}/${greeter} ${BIN}/tooltest-elsewhere/${greeter})
step(0 "activation loads 1 classes from.*warning: this is not the file activation loads" register
     tooltest-elsewhere/${greeter})
step(0 "still registered \\(1 left\\)" register -u tooltest-elsewhere/${greeter})
file(REMOVE_RECURSE ${BIN}/tooltest-elsewhere)
# The runtime's own classes and a component registered by the tool are no
# problems, and activate as traced.
step(0 "^no problems: 5 classes" doctor)
# A library outside the runtime's directory is loaded all the same, and
# doctor shows it as a notice, not a problem.
step(0 "" reg add "${root}\\Classes\\CLSID\\{D41060A0-F9F7-4CB0-953E-185845E6F0C5}\\InprocServer32" /ve /d "..\\plugins\\${greeter}" /f)
step(0 "outside-tree.*no problems, 1 notices: 5 classes" doctor)
step(0 "verdict: succeeds" create --trace TavoSample.Greeter)
step(0 "" reg add "${root}\\Classes\\CLSID\\{D41060A0-F9F7-4CB0-953E-185845E6F0C5}\\InprocServer32" /ve /d "${greeter}" /f)
# A component that crashes the process: the trace's steps up to it are out,
# also through a pipe.
set(crash "{DEADDEAD-0000-0000-0000-000000000000}")
step(0 "" reg add "${root}\\Classes\\CLSID\\${crash}\\InprocServer32" /ve /d "status_echo${SUFFIX}")
run_step(0 "CanUnloadNow +ok +exported\n" sh -c "\"$@\" | cat" sh ${EMULATOR} ${TOOL} create --trace ${crash})
if(output MATCHES "verdict")
  message(FATAL_ERROR "the trace went on past the crash: ${output}")
endif()
step(0 "" reg delete "${root}\\Classes\\CLSID\\${crash}" /f)
step(0 "verdict: succeeds\nCOM_CreateInstance: 0x00000000, as traced" create --trace TavoSample.Greeter)
step(0 "status    0x00000000 \\(object created\\)" create TavoSample.Greeter "{00000000-0000-0000-C000-000000000046}")
# A library entry that names a directory is reported as one.
step(0 "" reg add "${root}\\Classes\\CLSID\\{D41060A0-F9F7-4CB0-953E-185845E6F0C5}\\InprocServer32" /ve /d "." /f)
step(1 "load +FAILED +a directory, not a library file" create --trace TavoSample.Greeter)
step(0 "" reg add "${root}\\Classes\\CLSID\\{D41060A0-F9F7-4CB0-953E-185845E6F0C5}\\InprocServer32" /ve /d "${greeter}" /f)
step(2 "is neither a class identifier" create --trace No.Such.ProgID)
step(0 "Components that greet.*TavoSample.Greeter.*1 categories" categories)
step(0 "TavoSample.Greeter +Sample greeter +${greeter} +1 +Components that greet" classes)
step(0 "TelvaCom.Memory +- +${LIBRARY} +1 +-" classes)
step(0 "Components that greet" categories "{2C5E8A11-7F43-4B9D-A60E-519C3D72E408}")
step(1 "not registered" categories "{00000000-1111-2222-3333-444444444444}")
step(2 "not a category identifier" categories nonsense)

# Failures: clear messages and the platform tool's exit codes (3 load, 4
# entry point, 5 registration).
step(3 "cannot be loaded as a library; loader: [^\n]*README.md" register "${SOURCE}/README.md")
if(output MATCHES "%1")
  message(FATAL_ERROR "the loader's text has an unfilled insert: ${output}")
endif()
step(3 "is a directory, not a library" register "${SOURCE}")
step(3 "no such file" register "no-such${SUFFIX}")
step(4 "exports no DllRegisterServer" register "status_echo${SUFFIX}")
step(5 "failed with 0x80070005" register "failing_registration${SUFFIX}")
step(5 "failed with 0x80070005" register --unregister "failing_registration${SUFFIX}")

# The greeter goes, then is not there to go; the runtime's own removal of its
# last classes reports the binder's failed step as a failure of at least one
# class.
step(0 "${greeter}: unregistered" register --unregister ${greeter})
step(0 "${greeter}: not registered" register --unregister ${greeter})
step(5 "${LIBRARY}: at least one class failed \\(0x00000001\\)" register --unregister --runtime)
step(0 "no classes registered" classes)

execute_process(COMMAND ${EMULATOR} ${TOOL} reg delete "${root}" /f OUTPUT_QUIET ERROR_QUIET)

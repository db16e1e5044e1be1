# tavocom check over the samples (which pass) and over one component per
# fault, all built from components/broken.cpp; tool_check.cmake names the
# rule each must be reported under.
set(check_faults NONE NO_CAN_UNLOAD UNLOAD_ALWAYS NOT_SYMMETRIC IDENTITY OVER_RELEASE LEAVES_KEY COUNT_KEPT
                 DECODER_NO_TEXT NULL_OUT_CRASH HANG REGISTER_CRASH)
set(check_targets)
foreach(fault IN LISTS check_faults)
  string(TOLOWER "broken_${fault}" name)
  tavocom_add_component(test_${name} ${name} ${CMAKE_BINARY_DIR}/bin components/broken.cpp)
  target_compile_definitions(test_${name} PRIVATE FAULT_${fault})
  list(APPEND check_targets test_${name})
endforeach()
add_custom_target(test_check_components ALL DEPENDS ${check_targets} greeter tavo_decoder counter)
add_test(NAME tool_check
         COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:tavocom> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                 -DSUFFIX=$<TARGET_FILE_SUFFIX:greeter> -P ${CMAKE_CURRENT_SOURCE_DIR}/tool_check.cmake
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
# The tool makes a scratch registry per child; the hives named here only
# catch a write that escaped it.
set_tests_properties(tool_check PROPERTIES TIMEOUT 600 ENVIRONMENT
                     "${TAVOCOM_TEST_ENV};TAVOCOM_MACHINE_HIVE=${CMAKE_BINARY_DIR}/tooltest-check/machine.db;TAVOCOM_USER_HIVE=${CMAKE_BINARY_DIR}/tooltest-check/user.db")

# tavocom doctor and create --trace over the activation failure cases: the
# tool runs as a child process against the test's own registry.
tavocom_add_test(tool_diagnose tool_diagnose_test.cpp)
target_include_directories(test_tool_diagnose PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/examples)
# The test writes the broken entries with the platform calls themselves.
target_link_libraries(test_tool_diagnose PRIVATE tavocom_platform)
target_compile_definitions(test_tool_diagnose PRIVATE TAVOCOM_COMPONENT_SUFFIX="$<TARGET_FILE_SUFFIX:greeter>"
                                                      TAVOCOM_TOOL="$<TARGET_FILE:tavocom>")
add_dependencies(test_tool_diagnose tavocom greeter test_greeter_plugins test_no_can_unload test_status_echo)

# Component libraries that the activation tests register and load, built
# beside the library (and in subdirectories of its directory).
set(bin ${CMAKE_BINARY_DIR}/bin)
tavocom_add_component(test_greeter_sub greeter ${bin}/sub ${CMAKE_SOURCE_DIR}/examples/greeter/greeter.cpp)
tavocom_add_component(test_decoy decoy ${bin}/decoy ${CMAKE_SOURCE_DIR}/examples/greeter/greeter.cpp)
# Outside the runtime's directory, reached with `..`.
tavocom_add_component(test_greeter_plugins greeter ${CMAKE_BINARY_DIR}/plugins ${CMAKE_SOURCE_DIR}/examples/greeter/greeter.cpp)
tavocom_add_component(test_no_can_unload no_can_unload ${bin} components/no_can_unload.cpp)
tavocom_add_component(test_status_echo status_echo ${bin} components/status_echo.cpp)

# A host program of the product, linking nothing of the runtime: it loads
# the runtime by the path it is given.
add_executable(host components/host.cpp support/platform_${TAVOCOM_PLATFORM}.cpp)
target_include_directories(host PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR})
target_link_libraries(host PRIVATE tavocom_headers tavocom_warnings tavocom_sanitize tavocom_runtime ${CMAKE_DL_LIBS})

tavocom_add_test(activation activation_test.cpp classinfo_test.cpp)
target_include_directories(test_activation PRIVATE ${CMAKE_SOURCE_DIR}/examples)
target_compile_definitions(test_activation PRIVATE TAVOCOM_COMPONENT_SUFFIX="$<TARGET_FILE_SUFFIX:greeter>")
add_dependencies(test_activation host greeter test_greeter_sub test_greeter_plugins test_decoy test_no_can_unload test_status_echo)
# A library of the name the tests register lies in the working directory and
# on every search path; activation must never find it there.
if(WIN32)
  string(REPLACE "/" "\\" decoy_dir "Z:${bin}/decoy")
  set(search_env "WINEPATH=${decoy_dir}")
else()
  set(search_env "LD_LIBRARY_PATH=${bin}/decoy" "PATH=${bin}/decoy:/usr/bin:/bin")
endif()
set_tests_properties(activation PROPERTIES WORKING_DIRECTORY ${bin}/decoy ENVIRONMENT "${TAVOCOM_TEST_ENV};${search_env}")

tavocom_add_test(service_table service_table_test.cpp)

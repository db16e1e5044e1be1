# Self-registration and component categories.
set(bin ${CMAKE_BINARY_DIR}/bin)

# The walk over the class map, built into the test so that it can be given
# a map with categories.
add_library(test_register_all STATIC ${CMAKE_SOURCE_DIR}/registration/register_all.cpp)
target_link_libraries(test_register_all PUBLIC TAVOCOM64 tavocom_platform PRIVATE tavocom_internal)

tavocom_add_component(test_failing_registration failing_registration ${bin} components/failing_registration.cpp)

tavocom_add_test(categories categories_test.cpp)
tavocom_add_test(registration registration_test.cpp registration_map_test.cpp registration_process_test.cpp)
target_link_libraries(test_registration PRIVATE test_register_all tavocom_platform)

# tavocom register, categories and classes, with a registry of their own.
set(tool_env "COM_VERSION=TOOLTEST-REGISTER" "TAVOCOM_MACHINE_HIVE=${CMAKE_BINARY_DIR}/tooltest/machine.db"
             "TAVOCOM_USER_HIVE=${CMAKE_BINARY_DIR}/tooltest/user.db")
add_test(NAME tool_registration
         COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:tavocom> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                 -DBIN=${bin} -DSOURCE=${CMAKE_SOURCE_DIR} -DSUFFIX=$<TARGET_FILE_SUFFIX:greeter>
                 -DLIBRARY=${TAVOCOM_LIBRARY_FILE_NAME} -P ${CMAKE_CURRENT_SOURCE_DIR}/tool_registration.cmake
         WORKING_DIRECTORY ${bin})
set_tests_properties(tool_registration PROPERTIES ENVIRONMENT "${TAVOCOM_TEST_ENV};${tool_env}" TIMEOUT 300)

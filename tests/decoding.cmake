# Status decoding. The tests register the sample decoder and the
# misbehaving monikers and decoders of components/odd_binding.cpp.
tavocom_add_component(test_odd_binding odd_binding ${CMAKE_BINARY_DIR}/bin components/odd_binding.cpp EXPORTS LiveObjects)

tavocom_add_test(decoding decoding_test.cpp decoding_compose_test.cpp)
target_include_directories(test_decoding PRIVATE ${CMAKE_SOURCE_DIR}/examples)
target_link_libraries(test_decoding PRIVATE tavocom_decoding_compose)
target_compile_definitions(test_decoding PRIVATE TAVOCOM_COMPONENT_SUFFIX="$<TARGET_FILE_SUFFIX:greeter>")
add_dependencies(test_decoding greeter tavo_decoder test_odd_binding)

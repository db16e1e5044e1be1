# Status decoding: the composer, the decoder road through the sample decoder
# and the system road, each next to its baseline.
tavocom_add_bench(decoding decoding_bench.cpp)
target_include_directories(bench_decoding PRIVATE ${CMAKE_SOURCE_DIR}/examples)
target_link_libraries(bench_decoding PRIVATE tavocom_decoding_compose)
target_compile_definitions(bench_decoding PRIVATE TAVOCOM_COMPONENT_SUFFIX="$<TARGET_FILE_SUFFIX:greeter>")
add_dependencies(bench_decoding tavo_decoder)

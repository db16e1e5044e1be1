# Activation benchmarks. The direct-construction baseline links the memory
# class's objects into the benchmark program, with the module count it needs.
add_library(tavocom_memory_object STATIC EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/core/module.cpp)
target_link_libraries(tavocom_memory_object PUBLIC tavocom_memory_service tavocom_memory_strategies PRIVATE tavocom_warnings)

tavocom_add_bench(activation activation_bench.cpp)
target_include_directories(bench_activation PRIVATE ${CMAKE_SOURCE_DIR}/examples)
target_link_libraries(bench_activation PRIVATE tavocom_memory_object)
target_compile_definitions(bench_activation PRIVATE TAVOCOM_COMPONENT_SUFFIX="$<TARGET_FILE_SUFFIX:greeter>")
add_dependencies(bench_activation greeter)
if(WIN32)
  add_library(bench_platform_greeter MODULE platform_greeter.cpp)
  set_target_properties(bench_platform_greeter PROPERTIES PREFIX "")
  target_link_libraries(bench_platform_greeter PRIVATE ole32 uuid tavocom_warnings tavocom_runtime)
  add_dependencies(bench_activation bench_platform_greeter)
endif()

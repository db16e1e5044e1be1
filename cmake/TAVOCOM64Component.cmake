# Component libraries of the runtime, built the same way in the runtime's own
# tree and by projects that use the installed package.
#
# tavocom_add_component(TARGET OUTPUT_NAME DIRECTORY sources... [EXPORTS name...])
#   A loadable library OUTPUT_NAME.so / OUTPUT_NAME.dll in DIRECTORY, linked
#   against TAVOCOM64::TAVOCOM64, exporting only its marked entry points
#   (on Linux: GetClassObject, CanUnloadNow, DllRegisterServer,
#   DllUnregisterServer and the names given after EXPORTS), and
#   compiled with COM_COMPONENT_FILE_NAME, the file name it registers as its
#   server (relative to the runtime's directory). On Windows it carries its
#   compiler runtime, so that it needs only the system's own libraries.
#   Targets or flags in TAVOCOM64_COMPONENT_LINK_OPTIONS are linked privately
#   as well (the runtime's tree passes its warning and sanitizer settings).
#
# Install a component where the runtime looks for it:
#   install(TARGETS TARGET LIBRARY DESTINATION ${TAVOCOM64_COMPONENT_INSTALL_DIR})
if(NOT DEFINED TAVOCOM64_COMPONENT_INSTALL_DIR)
  # The runtime loads components from its own directory: beside the DLL on
  # Windows, beside the shared object elsewhere.
  if(WIN32)
    set(TAVOCOM64_COMPONENT_INSTALL_DIR bin)
  else()
    include(GNUInstallDirs)
    set(TAVOCOM64_COMPONENT_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR})
  endif()
endif()

# In a project that uses the installed package, each directory that gets
# components becomes a product directory of its own: the runtime, its
# platform library and the tool are copied beside them at build time, so
# that the tool run from there (with private hives) registers and activates
# the components as built, without root and without installing them.
function(_tavocom_stage_runtime target dir)
  if(NOT TARGET TAVOCOM64::tavocom)
    return() # the runtime's own tree: everything is built into one directory
  endif()
  string(MD5 key "${dir}")
  set(stage tavocom_stage_${key})
  if(NOT TARGET ${stage})
    if(WIN32)
      set(runtime_name $<TARGET_FILE_NAME:TAVOCOM64::TAVOCOM64>)
    else()
      set(runtime_name $<TARGET_SONAME_FILE_NAME:TAVOCOM64::TAVOCOM64>)
    endif()
    set(commands COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                 COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:TAVOCOM64::TAVOCOM64> ${dir}/${runtime_name}
                 COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:TAVOCOM64::tavocom> ${dir})
    if(TARGET TAVOCOM64::tavocom_platform)
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:TAVOCOM64::tavocom_platform>
                                   ${dir}/$<TARGET_SONAME_FILE_NAME:TAVOCOM64::tavocom_platform>)
    endif()
    add_custom_target(${stage} ${commands} COMMENT "Staging the TAVOCOM64 runtime and tool in ${dir}" VERBATIM)
  endif()
  add_dependencies(${target} ${stage})
endfunction()

# tavocom_add_client(TARGET DIRECTORY sources...)
#   A program in DIRECTORY that uses the runtime. It starts without any
#   compiler runtime DLL on Windows (linked statically), and loads the
#   runtime staged beside it in DIRECTORY (the one installed under
#   PREFIX/lib once it is installed into PREFIX/bin).
function(tavocom_add_client target dir)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE TAVOCOM64::TAVOCOM64 ${TAVOCOM64_COMPONENT_LINK_OPTIONS})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
  if(WIN32)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    endif()
  else()
    set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN:$ORIGIN/../lib")
  endif()
  _tavocom_stage_runtime(${target} ${dir})
endfunction()

function(tavocom_add_component target output dir)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "" "EXPORTS")
  add_library(${target} MODULE ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE TAVOCOM64::TAVOCOM64 ${TAVOCOM64_COMPONENT_LINK_OPTIONS})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${output}
                        LIBRARY_OUTPUT_DIRECTORY ${dir} RUNTIME_OUTPUT_DIRECTORY ${dir})
  target_compile_definitions(${target} PRIVATE COM_COMPONENT_FILE_NAME="$<TARGET_FILE_NAME:${target}>")
  if(WIN32)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    endif()
  else()
    # Only the entry points leave the library, as on Windows only the marked
    # names do: not the C++ library's template instances it compiled in.
    set(names GetClassObject CanUnloadNow DllRegisterServer DllUnregisterServer ${arg_EXPORTS})
    list(JOIN names "; " names)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports.map)
    file(CONFIGURE OUTPUT ${script} CONTENT "{\n  global: ${names};\n  local: *;\n};\n")
    target_compile_options(${target} PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
    target_link_options(${target} PRIVATE -Wl,--version-script=${script})
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${script})
  endif()
  _tavocom_stage_runtime(${target} ${dir})
endfunction()

# The library's export table, written once (core/exports.txt, one name a
# line, in the order the linker lists them) and turned here into what each
# linker and the export test read: the module-definition file (Windows), the
# version script (Linux) and a header with the expected names.
set(export_list ${CMAKE_SOURCE_DIR}/core/exports.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${export_list})
file(STRINGS ${export_list} TAVOCOM_EXPORT_NAMES REGEX "^[A-Za-z_][A-Za-z0-9_]*$")

set(TAVOCOM_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
list(JOIN TAVOCOM_EXPORT_NAMES "\n    " def_names)
file(CONFIGURE OUTPUT ${TAVOCOM_GENERATED_DIR}/exports.def
     CONTENT "LIBRARY TAVOCOM64.dll\nEXPORTS\n    ${def_names}\n")
list(JOIN TAVOCOM_EXPORT_NAMES ";\n    " map_names)
file(CONFIGURE OUTPUT ${TAVOCOM_GENERATED_DIR}/exports.map
     CONTENT "{\n  global:\n    ${map_names};\n  local: *;\n};\n")
list(JOIN TAVOCOM_EXPORT_NAMES "\",\n    \"" header_names)
file(CONFIGURE OUTPUT ${TAVOCOM_GENERATED_DIR}/tavocom_export_names.h
     CONTENT "// Generated from core/exports.txt.\n#pragma once\ninline constexpr const char* kTavocomExportNames[] = {\n    \"${header_names}\",\n};\n")

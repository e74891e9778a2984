# The Windows half of CMakeLists.txt (32-bit, MinGW-w64, see
# cmake/mingw-i686.cmake): the calling convention of the device library, the
# program's import library for AWG10K.dll (by ordinal), the simulated
# AWG10K.dll, and a runtime linked in statically.

# The vendor does not document its entries' calling convention. On 32-bit
# Windows the program and the library must agree on it, or every call leaves
# the stack off by its argument bytes; this is the one place that names it.
set(AWG10K_CALLING_CONVENTION stdcall CACHE STRING
    "Calling convention of AWG10K.dll's entries: stdcall or cdecl")
set_property(CACHE AWG10K_CALLING_CONVENTION PROPERTY STRINGS stdcall cdecl)
if(NOT AWG10K_CALLING_CONVENTION MATCHES "^(stdcall|cdecl)$")
  message(FATAL_ERROR "AWG10K_CALLING_CONVENTION is \"${AWG10K_CALLING_CONVENTION}\": stdcall or cdecl")
endif()
if(AWG10K_LIBRARY)
  message(WARNING "AWG10K_LIBRARY is not used on Windows: the program imports AWG10K.dll "
                  "through device/AWG10K.def and finds the vendor's DLL when it starts")
endif()

# device/AWG10K.def names the entries as stdcall decorates them (Name@N); a
# cdecl build refers to plain names. The ordinals stay the same.
file(READ ${CMAKE_SOURCE_DIR}/device/AWG10K.def awg10k_def)
if(AWG10K_CALLING_CONVENTION STREQUAL "cdecl")
  string(REGEX REPLACE "(AWG10K_[A-Za-z]+)@[0-9]+" "\\1" awg10k_def "${awg10k_def}")
endif()
set(awg10k_def_file ${CMAKE_BINARY_DIR}/device/AWG10K-${AWG10K_CALLING_CONVENTION}.def)
file(CONFIGURE OUTPUT ${awg10k_def_file} CONTENT "${awg10k_def}" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/device/AWG10K.def)

# The import library: AWG10K.dll bound when the process loads, every entry by
# ordinal, none by name. Made from the .def alone, so building needs no
# vendor file.
set(awg10k_import_lib ${CMAKE_BINARY_DIR}/device/libAWG10K-ordinals.a)
add_custom_command(OUTPUT ${awg10k_import_lib}
  COMMAND ${CMAKE_DLLTOOL} --input-def ${awg10k_def_file} --dllname AWG10K.dll
          --output-lib ${awg10k_import_lib}
  DEPENDS ${awg10k_def_file}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/device
  COMMENT "Import library for AWG10K.dll, by ordinal (${AWG10K_CALLING_CONVENTION})")
add_custom_target(awg10k_import_lib DEPENDS ${awg10k_import_lib})
add_library(awg10k INTERFACE)
target_include_directories(awg10k INTERFACE ${CMAKE_SOURCE_DIR}/device)
target_compile_definitions(awg10k INTERFACE AWG10K_CALL=__${AWG10K_CALLING_CONVENTION})
target_link_libraries(awg10k INTERFACE ${awg10k_import_lib})

# The simulated AWG10K.dll: the same convention, exports at the same ordinals,
# and kept in simulator/, never beside the program.
target_sources(awg10k_simulator PRIVATE ${awg10k_def_file})
target_compile_definitions(awg10k_simulator PRIVATE AWG10K_CALL=__${AWG10K_CALLING_CONVENTION})
set_target_properties(awg10k_simulator PROPERTIES
    PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/simulator
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/simulator)

# Nothing to ship beside the program but the vendor's DLL: the C++ and GCC
# runtimes go into the executable and the simulated DLL.
target_link_options(awg10k_simulator PRIVATE -static)

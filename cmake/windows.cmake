# The Windows half of CMakeLists.txt (32-bit, MinGW-w64, see
# cmake/mingw-i686.cmake; or the tests' x86-64 twin, cmake/mingw-x86_64.cmake):
# the program's import library for AWG10K.dll (by ordinal), the entries over a
# call helper right for either calling convention, the simulated AWG10K.dll,
# and a runtime linked in statically.

# A cross build has no host tests: the Windows ones run under Wine from
# tests/windows/test.sh, and GoogleTest is not needed.
set(BUILD_TESTING OFF CACHE BOOL "Build the host tests (never in a Windows cross build)")

# x86-64 Windows has a single calling convention, so only 32-bit needs the
# call helper that is right for both.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  enable_language(ASM)
  set(awg10k_call_helper device/windows/call.S)
else()
  set(awg10k_call_helper device/windows/call_x64.cpp)
endif()

# The vendor does not document its entries' calling convention, and the
# program is right for either (device/windows/call.S). Only the simulated DLL
# is built in one, so the tests can try the program against both.
set(AWG10K_CALLING_CONVENTION stdcall CACHE STRING
    "Calling convention of the simulated AWG10K.dll: stdcall or cdecl")
set_property(CACHE AWG10K_CALLING_CONVENTION PROPERTY STRINGS stdcall cdecl)
if(NOT AWG10K_CALLING_CONVENTION MATCHES "^(stdcall|cdecl)$")
  message(FATAL_ERROR "AWG10K_CALLING_CONVENTION is \"${AWG10K_CALLING_CONVENTION}\": stdcall or cdecl")
endif()
if(AWG10K_LIBRARY)
  message(WARNING "AWG10K_LIBRARY is not used on Windows: the program imports AWG10K.dll "
                  "through device/AWG10K.def and finds the vendor's DLL when it starts")
endif()

# The import library: AWG10K.dll bound when the process loads, every entry by
# ordinal, none by name, and only the import slots (DATA in the .def). Made
# from the .def alone, so building needs no vendor file.
set(awg10k_def_file ${CMAKE_SOURCE_DIR}/device/AWG10K.def)
set(awg10k_import_lib ${CMAKE_BINARY_DIR}/device/libAWG10K-ordinals.a)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/device)
add_custom_command(OUTPUT ${awg10k_import_lib}
  COMMAND ${CMAKE_DLLTOOL} --input-def ${awg10k_def_file} --dllname AWG10K.dll
          --output-lib ${awg10k_import_lib}
  DEPENDS ${awg10k_def_file}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/device
  COMMENT "Import library for AWG10K.dll, by ordinal")
add_custom_target(awg10k_import_lib DEPENDS ${awg10k_import_lib})

# The entries under their plain names, over the call helper, and the warming
# of the trigger entry's code.
add_library(awg10k STATIC device/windows/AWG10K_entries.cpp ${awg10k_call_helper}
                          device/windows/trigger_warmth.cpp)
# Plain i686 has no prefetch instruction, and GCC drops the hint without a
# word; SSE brings it (every x86 processor since the Pentium III has it). Only
# the prefetches are built so: the rest of the program runs on any i686.
set_source_files_properties(device/windows/trigger_warmth.cpp PROPERTIES COMPILE_OPTIONS -msse)
target_include_directories(awg10k PUBLIC ${CMAKE_SOURCE_DIR}/device ${CMAKE_SOURCE_DIR}/device/windows)
add_dependencies(awg10k awg10k_import_lib)
target_link_libraries(awg10k PUBLIC ${awg10k_import_lib})

# The simulated AWG10K.dll: built in the chosen convention, exports at the
# same ordinals, and kept in simulator/, never beside the program.
target_sources(awg10k_simulator PRIVATE ${awg10k_def_file})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_definitions(awg10k_simulator PRIVATE AWG10K_CALL=__${AWG10K_CALLING_CONVENTION})
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND AWG10K_CALLING_CONVENTION STREQUAL "stdcall")
  # Binds the .def's plain names to the stdcall Name@N, without a warning each.
  target_link_options(awg10k_simulator PRIVATE -Wl,--enable-stdcall-fixup)
endif()
set_target_properties(awg10k_simulator PROPERTIES
    PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/simulator
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/simulator)

# Nothing to ship beside the program but the vendor's DLL: the C++ and GCC
# runtimes go into the executables and the simulated DLL.
target_link_options(awg10k_simulator PRIVATE -static)

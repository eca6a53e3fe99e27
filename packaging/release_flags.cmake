# Compiler and linker settings of the release build, for every target defined after this file.
# The same commit gives the same program bytes wherever and whenever it is built: no source or
# build path (file prefix maps), no link time stamp (Windows), no symbols or debug info (-s).
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
  message(FATAL_ERROR "RAVLEN_RELEASE needs CMAKE_BUILD_TYPE=Release")
endif()
if(NOT RAVLEN_STATIC OR RAVLEN_SANITIZE OR RAVLEN_TESTS OR RAVLEN_BENCH)
  message(FATAL_ERROR "RAVLEN_RELEASE builds the static program alone: RAVLEN_STATIC=ON, "
                      "RAVLEN_SANITIZE, RAVLEN_TESTS and RAVLEN_BENCH OFF")
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
# The binary directory may lie inside the source directory: its map comes last, so it wins.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
add_link_options(-s)

if(WIN32)
  # The linker would write the current time into the PE header.
  add_link_options(-Wl,--no-insert-timestamp)
else()
  # Debian's hardening: checked string and memory functions, stack protector, read-only
  # relocations resolved at start.
  add_compile_options(-D_FORTIFY_SOURCE=2 -fstack-protector-strong)
  add_link_options(-Wl,-z,relro,-z,now)
endif()

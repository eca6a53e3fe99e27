# Turns the page's source texts into constant byte arrays: page_texts.h and page_texts.cpp in
# OUT_DIR. Run as a CMake script (cmake -P), so it works the same when cross-compiling.
#   cmake -DSRC_DIR=<page folder> -DOUT_DIR=<output folder> -P embed_texts.cmake
include(${SRC_DIR}/page_texts.cmake)

set(header "// Generated from the files under page/ by embed_texts.cmake; do not edit.\n#pragma once\n\n#include <stddef.h>\n\nstruct page_text {\n    const unsigned char* bytes;\n    size_t size;\n};\n\n")
set(source "// Generated from the files under page/ by embed_texts.cmake; do not edit.\n#include \"page_texts.h\"\n")

list(LENGTH PAGE_TEXTS count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 3)
  math(EXPR m "${i} + 1")
  math(EXPR p "${i} + 2")
  list(GET PAGE_TEXTS ${i} name)
  list(GET PAGE_TEXTS ${m} mode)
  list(GET PAGE_TEXTS ${p} path)

  file(READ ${SRC_DIR}/${path} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  if(bytes MATCHES "0x0d,")
    message(FATAL_ERROR "${path}: carriage return in a page text (checked out with CR LF line ends?)")
  endif()
  if(mode STREQUAL "text")
    string(REGEX REPLACE "0x0a,$" "" bytes "${bytes}")
  elseif(mode STREQUAL "lines")
    string(REGEX REPLACE "0x0a,(0x20,|0x09,)*" "" bytes "${bytes}")
  else()
    message(FATAL_ERROR "${path}: unknown mode ${mode}")
  endif()
  string(LENGTH "${bytes}" chars)
  math(EXPR size "${chars} / 5")
  # Sixteen bytes a line; the closing 0 keeps the array non-empty when the text is.
  string(REPEAT "0x..," 16 sixteen)
  string(REGEX REPLACE "(${sixteen})" "\\1\n    " bytes "${bytes}")

  string(APPEND header "extern const page_text TEXT_${name};  // ${path}\n")
  string(APPEND source "\nstatic const unsigned char bytes_${name}[] = {\n    ${bytes}0};\n")
  string(APPEND source "extern const page_text TEXT_${name} = {bytes_${name}, ${size}};\n")
endforeach()

file(WRITE ${OUT_DIR}/page_texts.h "${header}")
file(WRITE ${OUT_DIR}/page_texts.cpp "${source}")

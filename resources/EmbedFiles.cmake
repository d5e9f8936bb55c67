# Writes a C++ source that holds files as byte arrays, one array per file.
#   cmake -DOUTPUT=out.cpp -DNAMES="A;B" -DFILES="a.png;b.bmp" -P EmbedFiles.cmake
# For each name N it defines `const unsigned char N_data[]` and
# `const std::size_t N_size` at namespace scope, with external linkage.
cmake_minimum_required(VERSION 3.25)

list(LENGTH NAMES count)
list(LENGTH FILES file_count)
if(NOT count EQUAL file_count OR count EQUAL 0)
  message(FATAL_ERROR "EmbedFiles: NAMES and FILES must name the same number of entries")
endif()

set(text "// Generated from the files under resources/; do not edit.\n#include <cstddef>\n")
math(EXPR last "${count} - 1")
# CMake's regular expressions have no {n}: spell out sixteen bytes.
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 sixteen)
foreach(i RANGE ${last})
  list(GET NAMES ${i} name)
  list(GET FILES ${i} path)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  if(digits EQUAL 0)
    message(FATAL_ERROR "EmbedFiles: ${path} is empty")
  endif()
  math(EXPR size "${digits} / 2")
  # Sixteen bytes a line keeps the generated file readable in a diff.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(${sixteen})" "\\1\n" bytes "${bytes}")
  string(APPEND text "\nextern const unsigned char ${name}_data[${size}] = {\n${bytes}\n};\n")
  string(APPEND text "extern const std::size_t ${name}_size = ${size};\n")
endforeach()

file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")

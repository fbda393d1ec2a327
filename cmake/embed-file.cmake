# Turns a file into a C++ byte array, for data the program carries with it.
#   cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSYMBOL=<name> -DNAMESPACE=<ns> -P embed-file.cmake
# Defines `const unsigned char <name>[]` (with a 0 after the file's bytes, so
# that an empty file still makes an array) and `const size_t <name>Size`.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.new"
"// Generated from ${name} at build time; edit that file instead.\n"
"#include <cstddef>\n\n"
"namespace ${NAMESPACE} {\n\n"
"extern const unsigned char ${SYMBOL}[];\n"
"extern const size_t ${SYMBOL}Size;\n\n"
"const unsigned char ${SYMBOL}[] = {\n    ${bytes}0x00};\n"
"const size_t ${SYMBOL}Size = ${size};\n\n"
"}  // namespace ${NAMESPACE}\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")

# Script mode: cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSYMBOL=<name> -P EmbedBytes.cmake
# Writes a C++ source that defines `const unsigned char <SYMBOL>[]` with the file's bytes and
# `const size_t <SYMBOL>Size`, in namespace quenbril.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${INPUT}; do not edit.\n"
    "#include <cstddef>\n\nnamespace quenbril {\n\n"
    "extern const unsigned char ${SYMBOL}[];\nextern const size_t ${SYMBOL}Size;\n"
    "const unsigned char ${SYMBOL}[] = {\n${bytes}\n};\n"
    "const size_t ${SYMBOL}Size = ${size};\n\n}  // namespace quenbril\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")

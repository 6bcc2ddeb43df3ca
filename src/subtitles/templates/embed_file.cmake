# cmake -DINPUT=file -DOUTPUT=header -DNAME=identifier -P embed_file.cmake
file(READ "${INPUT}" bytes HEX)
# Drop the one line feed that ends the file (see embed_templates.cmake).
string(REGEX REPLACE "0a$" "" bytes "${bytes}")
string(LENGTH "${bytes}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${INPUT}; edit that file instead.\n"
    "#pragma once\n\n#include <string_view>\n\nnamespace quillora::templates {\n\n"
    "inline constexpr char ${NAME}_bytes[] = {\n    ${bytes}'\\0'};\n"
    "inline constexpr std::string_view ${NAME}{${NAME}_bytes, ${size}};\n\n"
    "}  // namespace quillora::templates\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")

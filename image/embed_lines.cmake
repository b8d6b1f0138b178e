# Turns the S-record data file into a C++ source holding its text, so that the
# firmware is part of the program and nothing is read at run time.
#   cmake -DIN=<file.mot> -DOUT=<file.cpp> -P embed_lines.cmake
file(READ "${IN}" text)
string(REPLACE "\r" "" text "${text}")
string(REGEX REPLACE "\n+$" "" text "${text}")
if(text MATCHES "[^0-9A-Za-z\n]")
    message(FATAL_ERROR "${IN}: only S-record characters may be embedded")
endif()
string(REPLACE "\n" "\\n\"\n    \"" body "${text}")
file(WRITE "${OUT}.tmp"
"// Generated from ${IN} at build time. Do not edit.
#include <string_view>

namespace rqv5 {
extern const std::string_view embeddedImageWholeText;

static const char wholeText[] =
    \"${body}\\n\";
const std::string_view embeddedImageWholeText(wholeText, sizeof wholeText - 1);
} // namespace rqv5
")
file(RENAME "${OUT}.tmp" "${OUT}")

# Writes a C++ table of Adobe-Japan1 identifiers -> Unicode from poppler-data's
# cidToUnicode file (one hexadecimal code point per line, the line number is
# the identifier):  cmake -DIN=FILE -DOUT=FILE.cpp -P japan1.cmake
file(STRINGS ${IN} codes REGEX "^[0-9A-Fa-f]+$")
list(LENGTH codes count)
list(TRANSFORM codes PREPEND "0x")
string(JOIN ",\n" body ${codes})
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\n"
  "#include \"extract/pdf/cmap.h\"\n"
  "namespace kuribo::pdf {\n"
  "extern const char32_t kJapan1Unicode[] = {\n${body}};\n"
  "extern const int32_t kJapan1UnicodeCount = ${count};\n"
  "}  // namespace kuribo::pdf\n")

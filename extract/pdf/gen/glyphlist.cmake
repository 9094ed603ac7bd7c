# Writes a C++ table of glyph names -> Unicode from the Adobe Glyph List
# (lines "name;XXXX[ XXXX...]"):  cmake -DIN=glyphlist.txt -DOUT=FILE.cpp -P glyphlist.cmake
file(READ ${IN} text)
string(REPLACE "\r" "" text "${text}")
string(REGEX REPLACE "#[^\n]*\n" "" text "${text}")
# Each unit as a \x escape: it ends at the next backslash or quote.
string(REGEX REPLACE "([A-Za-z0-9_.]+);([0-9A-Fa-f]+( [0-9A-Fa-f]+)*)\n" "{\"\\1\", u\"\\\\x\\2\"},\n"
       text "${text}")
string(REPLACE " " "\\x" text "${text}")
string(REPLACE "{\"\\x" "{\"" text "${text}")
string(REPLACE "\",\\xu\"" "\", u\"" text "${text}")
# Whatever line is not an entry now is dropped.
string(REGEX REPLACE "(^|\n)[^{\n][^\n]*" "" text "${text}")
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\n"
  "#include \"extract/pdf/cmap.h\"\n"
  "namespace kuribo::pdf {\n"
  "extern const GlyphListEntry kGlyphList[] = {\n${text}{\"\", u\"\"}};\n"
  "extern const int32_t kGlyphListCount = sizeof kGlyphList / sizeof kGlyphList[0] - 1;\n"
  "}  // namespace kuribo::pdf\n")

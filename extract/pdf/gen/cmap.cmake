# cmap.dat beside the executables, generated from poppler-data's Adobe-Japan1 CMaps.
set(KURIBO_CMAP_SOURCE_DIR /usr/share/poppler/cMap/Adobe-Japan1 CACHE PATH
    "Directory of the Adobe-Japan1 CMap files cmap.dat is built from")
if(EXISTS ${KURIBO_CMAP_SOURCE_DIR}/90ms-RKSJ-H)
  add_executable(kuribo_cmapgen ${CMAKE_CURRENT_LIST_DIR}/cmapgen.cpp
                 ${CMAKE_SOURCE_DIR}/encoding/sjis.cpp ${KURIBO_TABLES_CPP})
  target_include_directories(kuribo_cmapgen PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(kuribo_cmapgen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
  set(KURIBO_CMAP_DAT ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/cmap.dat)
  add_custom_command(OUTPUT ${KURIBO_CMAP_DAT}
    COMMAND kuribo_cmapgen ${KURIBO_CMAP_SOURCE_DIR} ${KURIBO_CMAP_DAT}
    DEPENDS kuribo_cmapgen
    COMMENT "Generating cmap.dat")
  add_custom_target(kuribo_cmap ALL DEPENDS ${KURIBO_CMAP_DAT})
  add_dependencies(kuribo_tests kuribo_cmap)
else()
  message(WARNING "No Adobe-Japan1 CMaps in ${KURIBO_CMAP_SOURCE_DIR} (poppler-data): "
                  "cmap.dat is not built; PDF text through predefined CMaps stays undecoded")
endif()

# Adobe-Japan1 identifiers -> Unicode, compiled into the engine.
set(KURIBO_JAPAN1_UNICODE /usr/share/poppler/cidToUnicode/Adobe-Japan1 CACHE FILEPATH
    "poppler-data's Adobe-Japan1 cidToUnicode file")
if(EXISTS ${KURIBO_JAPAN1_UNICODE})
  set(KURIBO_JAPAN1_CPP ${CMAKE_BINARY_DIR}/generated/japan1_unicode.cpp)
  add_custom_command(OUTPUT ${KURIBO_JAPAN1_CPP}
    COMMAND ${CMAKE_COMMAND} -DIN=${KURIBO_JAPAN1_UNICODE} -DOUT=${KURIBO_JAPAN1_CPP}
            -P ${CMAKE_CURRENT_LIST_DIR}/japan1.cmake
    DEPENDS ${KURIBO_JAPAN1_UNICODE} ${CMAKE_CURRENT_LIST_DIR}/japan1.cmake
    COMMENT "Generating the Adobe-Japan1 Unicode table")
  target_sources(kuribo_engine PRIVATE ${KURIBO_JAPAN1_CPP})
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/extract/pdf/document.cpp APPEND PROPERTY
               COMPILE_DEFINITIONS KURIBO_JAPAN1_UNICODE=1)
else()
  message(WARNING "No ${KURIBO_JAPAN1_UNICODE} (poppler-data): Adobe-Japan1 identifiers "
                  "are read through cmap.dat's CID table only")
endif()

# Glyph names of simple fonts' /Differences: the Adobe Glyph List, compiled in.
set(KURIBO_GLYPH_LIST_FILE /usr/share/aglfn/glyphlist.txt CACHE FILEPATH
    "The Adobe Glyph List (Debian package aglfn)")
if(EXISTS ${KURIBO_GLYPH_LIST_FILE})
  set(KURIBO_GLYPH_LIST_CPP ${CMAKE_BINARY_DIR}/generated/glyph_list.cpp)
  add_custom_command(OUTPUT ${KURIBO_GLYPH_LIST_CPP}
    COMMAND ${CMAKE_COMMAND} -DIN=${KURIBO_GLYPH_LIST_FILE} -DOUT=${KURIBO_GLYPH_LIST_CPP}
            -P ${CMAKE_CURRENT_LIST_DIR}/glyphlist.cmake
    DEPENDS ${KURIBO_GLYPH_LIST_FILE} ${CMAKE_CURRENT_LIST_DIR}/glyphlist.cmake
    COMMENT "Generating the glyph name table")
  target_sources(kuribo_engine PRIVATE ${KURIBO_GLYPH_LIST_CPP})
  set_property(SOURCE ${KURIBO_GLYPH_LIST_CPP} ${CMAKE_SOURCE_DIR}/extract/pdf/cmap.cpp
               ${CMAKE_SOURCE_DIR}/tests/extract/pdf/pdf_fonts_test.cpp
               APPEND PROPERTY COMPILE_DEFINITIONS KURIBO_GLYPH_LIST=1)
else()
  message(WARNING "No ${KURIBO_GLYPH_LIST_FILE} (aglfn): simple fonts' glyph names are "
                  "read through the built-in Latin names only")
endif()

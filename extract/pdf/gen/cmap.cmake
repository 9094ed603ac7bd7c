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

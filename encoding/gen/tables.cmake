# The code page tables, generated from the build machine's iconv: the engine
# never calls iconv at run time. A cross build compiles the generator with the
# build machine's own compiler.
set(KURIBO_TABLES_CPP ${CMAKE_BINARY_DIR}/generated/codepage_tables.cpp)
if(CMAKE_CROSSCOMPILING)
  set(KURIBO_HOST_CXX c++ CACHE STRING "The build machine's C++ compiler, for the generators")
  set(KURIBO_TABLEGEN ${CMAKE_BINARY_DIR}/tools/kuribo_tablegen)
  add_custom_command(OUTPUT ${KURIBO_TABLEGEN}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tools
    COMMAND ${KURIBO_HOST_CXX} -std=c++20 -O1 -o ${KURIBO_TABLEGEN}
            ${CMAKE_CURRENT_LIST_DIR}/tablegen.cpp
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/tablegen.cpp
    COMMENT "Building the code page table generator for the build machine")
  set(KURIBO_TABLEGEN_DEP ${KURIBO_TABLEGEN})
else()
  add_executable(kuribo_tablegen ${CMAKE_CURRENT_LIST_DIR}/tablegen.cpp)
  set_target_properties(kuribo_tablegen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
  set(KURIBO_TABLEGEN kuribo_tablegen)
  set(KURIBO_TABLEGEN_DEP kuribo_tablegen)
endif()
add_custom_command(OUTPUT ${KURIBO_TABLES_CPP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND ${KURIBO_TABLEGEN} ${KURIBO_TABLES_CPP}
  DEPENDS ${KURIBO_TABLEGEN_DEP}
  COMMENT "Generating the code page tables from iconv")

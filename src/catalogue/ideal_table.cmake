# The ideal-database texts of resources/, embedded as constants: a build step turns the files into
# C++ sources in the build tree, compiled into their own static library.
set(TARQ_IDEAL_RESOURCE_DIR ${CMAKE_SOURCE_DIR}/resources)
set(TARQ_IDEAL_GEN_DIR ${CMAKE_BINARY_DIR}/generated/ideal)
set(TARQ_IDEAL_EMBEDDER ${CMAKE_SOURCE_DIR}/src/catalogue/embed_ideal.py)
# A fixed number of sources (the script spreads the 142 packs over them), so the outputs are known
# at configure time and each source stays a few megabytes.
set(TARQ_IDEAL_SOURCE_COUNT 24)

set(TARQ_IDEAL_SOURCES ${TARQ_IDEAL_GEN_DIR}/embedded_ideal_index.cpp)
math(EXPR _tarq_last "${TARQ_IDEAL_SOURCE_COUNT} - 1")
foreach(_k RANGE ${_tarq_last})
  if(_k LESS 10)
    set(_k "0${_k}")
  endif()
  list(APPEND TARQ_IDEAL_SOURCES ${TARQ_IDEAL_GEN_DIR}/ideal_packs_${_k}.cpp)
endforeach()

file(GLOB TARQ_IDEAL_INPUTS LIST_DIRECTORIES false CONFIGURE_DEPENDS
  ${TARQ_IDEAL_RESOURCE_DIR}/*
  ${TARQ_IDEAL_RESOURCE_DIR}/ideal_12_data/*)

add_custom_command(
  OUTPUT ${TARQ_IDEAL_SOURCES}
         ${TARQ_IDEAL_GEN_DIR}/embedded_ideal_packs.hpp
         ${TARQ_IDEAL_GEN_DIR}/embedded_ideal_pieces.hpp
  COMMAND ${Python_EXECUTABLE} ${TARQ_IDEAL_EMBEDDER}
          ${TARQ_IDEAL_RESOURCE_DIR} ${TARQ_IDEAL_GEN_DIR} ${TARQ_IDEAL_SOURCE_COUNT}
  DEPENDS ${TARQ_IDEAL_EMBEDDER} ${TARQ_IDEAL_INPUTS}
  COMMENT "Embedding the ideal-database texts"
  VERBATIM)

add_library(tarq_ideal_table STATIC ${TARQ_IDEAL_SOURCES})
target_include_directories(tarq_ideal_table PRIVATE ${TARQ_LAYER_ROOTS}/catalogue
                           PUBLIC ${TARQ_IDEAL_GEN_DIR})
# Only data: no optimisation needed, and -O0 keeps the large units quick to compile.
target_compile_options(tarq_ideal_table PRIVATE -O0)

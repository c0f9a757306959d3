# The certificates res/certs/cert_<id>.der become C arrays kCert_<id> at
# configure time, in the way the pictures are embedded; a changed file re-runs
# the configuration.
#
# zorbelu_write_cert_data(OUTPUT [REPLACE ID FILE]...) writes one such
# include file; REPLACE embeds FILE under ID instead of cert_<ID>.der (for
# test modules whose certificates differ).
function(zorbelu_write_cert_data output)
  cmake_parse_arguments(ARG "" "" "REPLACE" ${ARGN})
  # The ids of certs.inc.
  set(ZORBELU_CERT_IDS 1007 1008 1009 1010 1011 1012 1080 1081)
  set(ZORBELU_CERT_DIR ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  set(data "// Generated from res/certs/cert_*.der by res/certs/embed_certs.cmake. Do not edit.\n")
  foreach(id IN LISTS ZORBELU_CERT_IDS)
    set(file ${ZORBELU_CERT_DIR}/cert_${id}.der)
    list(FIND ARG_REPLACE ${id} at)
    if(at GREATER -1)
      math(EXPR at "${at} + 1")
      list(GET ARG_REPLACE ${at} file)
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
    file(READ ${file} hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n    " bytes "${bytes}")
    string(APPEND data "alignas(4) const unsigned char kCert_${id}[] = {\n    ${bytes}\n};\n")
  endforeach()
  if(EXISTS ${output})
    file(READ ${output} old)
  else()
    set(old "")
  endif()
  if(NOT old STREQUAL data)
    file(WRITE ${output} "${data}")
  endif()
endfunction()

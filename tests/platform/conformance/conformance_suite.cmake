# pw_add_conformance_suite(<name> DRIVER_SOURCES <files...> LIBS <libs...>)
#
# Builds the backend conformance suite into the test binary <name>, against the
# backend whose driver (a definition of conformance::MakeBackendDriver) is in
# DRIVER_SOURCES and whose library is in LIBS.
set(PW_CONFORMANCE_SUITE_DIR "${CMAKE_CURRENT_LIST_DIR}" CACHE INTERNAL "")

function(pw_add_conformance_suite name)
  cmake_parse_arguments(ARG "" "" "DRIVER_SOURCES;LIBS" ${ARGN})
  pw_add_test(${name}
    SOURCES ${PW_CONFORMANCE_SUITE_DIR}/conformance_suite.cc ${ARG_DRIVER_SOURCES}
    LIBS ${ARG_LIBS} pp_core)
endfunction()

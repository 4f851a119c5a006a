# The JSON and command-line libraries are header-only and cost more to parse than
# most files that include them: they are compiled once per build into a
# precompiled header that the tools and embedders share.
#
# pw_use_third_party_pch(<target>...) gives those targets the shared header. A
# target that needs compile flags of its own (the fuzz-covered page_channel, say)
# must not use it: a precompiled header only serves files compiled like it.
find_package(nlohmann_json 3 REQUIRED)
find_package(CLI11 REQUIRED)

add_library(pw_third_party_pch OBJECT ${CMAKE_CURRENT_LIST_DIR}/pch_anchor.cc)
target_link_libraries(pw_third_party_pch PRIVATE nlohmann_json::nlohmann_json CLI11::CLI11)
target_precompile_headers(pw_third_party_pch PRIVATE <nlohmann/json.hpp> <CLI/CLI.hpp>
                          <functional> <map> <memory> <string> <vector>)

function(pw_use_third_party_pch)
  foreach(target ${ARGN})
    target_precompile_headers(${target} REUSE_FROM pw_third_party_pch)
  endforeach()
endfunction()

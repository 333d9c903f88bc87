# nlohmann's JSON library (Debian's nlohmann-json3-dev, header only) as the
# target qscan_json, for native and cross builds alike. A cross build must
# not search the host's /usr/include as a whole, so the library's own folder
# is copied into the build tree and that is searched instead.
set(QSCAN_JSON_HINT "qscan-sheet needs nlohmann's JSON library: apt install nlohmann-json3-dev")
add_library(qscan_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  find_path(QSCAN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT QSCAN_JSON_INCLUDE)
    message(FATAL_ERROR "${QSCAN_JSON_HINT}")
  endif()
  file(COPY "${QSCAN_JSON_INCLUDE}/nlohmann" DESTINATION "${CMAKE_BINARY_DIR}/json-include")
  target_include_directories(qscan_json SYSTEM INTERFACE "${CMAKE_BINARY_DIR}/json-include")
else()
  find_package(nlohmann_json 3.9 QUIET)
  if(NOT nlohmann_json_FOUND)
    message(FATAL_ERROR "${QSCAN_JSON_HINT}")
  endif()
  target_link_libraries(qscan_json INTERFACE nlohmann_json::nlohmann_json)
endif()

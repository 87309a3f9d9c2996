# nlohmann-json, header-only, from the system's package. The cross builds must not see
# the whole of /usr/include, so they reach only its nlohmann folder through a folder of
# their own in the build tree.
find_path(NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
if(NOT NLOHMANN_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev (scripts/setup does)")
endif()
add_library(tel_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(json_include ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${json_include})
  if(NOT EXISTS ${json_include}/nlohmann)
    file(CREATE_LINK ${NLOHMANN_JSON_INCLUDE}/nlohmann ${json_include}/nlohmann SYMBOLIC)
  endif()
  target_include_directories(tel_json SYSTEM INTERFACE ${json_include})
else()
  target_include_directories(tel_json SYSTEM INTERFACE ${NLOHMANN_JSON_INCLUDE})
endif()

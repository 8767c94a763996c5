# Answers every find_package of a configure in MacosConfigureTest.cmake: nlohmann_json is there,
# as Homebrew's nlohmann-json would be; asking for any other package fails the configure.
macro(tessly_fake_mac_package method name)
  if(NOT "${name}" STREQUAL "nlohmann_json")
    message(FATAL_ERROR "The macos preset asks for the package ${name}")
  endif()
  if(NOT TARGET nlohmann_json::nlohmann_json)
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  endif()
  set(nlohmann_json_FOUND TRUE)
endmacro()
cmake_language(SET_DEPENDENCY_PROVIDER tessly_fake_mac_package SUPPORTED_METHODS FIND_PACKAGE)

# Configures the project with the `macos` preset's cache variables on any OS, for a stand-in Mac
# (fake-mac/: Darwin and Apple's clang, configured and generated, never built), and checks
#   - that it asks for no package but nlohmann_json (fake-mac/Packages.cmake fails on any other):
#     the helper and TesslyKit build with what platform/darwin/README.md lists;
#   - that the helper's signature is an output of its own, remade when the helper, its Info.plist,
#     a signing setting, Sign.cmake or the provisioning profile changes.
#   cmake -DSOURCE_DIR=<repo> -DWORK_DIR=<scratch> -DNINJA=<ninja> -P MacosConfigureTest.cmake
cmake_minimum_required(VERSION 3.25)

# The `macos` preset's own cache variables (those it inherits decide no package).
file(READ "${SOURCE_DIR}/CMakePresets.json" presets)
string(JSON count LENGTH "${presets}" configurePresets)
math(EXPR last "${count} - 1")
set(variables "")
foreach(i RANGE ${last})
  string(JSON name GET "${presets}" configurePresets ${i} name)
  if(name STREQUAL "macos")
    string(JSON variables GET "${presets}" configurePresets ${i} cacheVariables)
  endif()
endforeach()
string(JSON count LENGTH "${variables}")
math(EXPR last "${count} - 1")
set(preset_arguments "")
foreach(i RANGE ${last})
  string(JSON key MEMBER "${variables}" ${i})
  string(JSON value GET "${variables}" "${key}")
  string(REPLACE ";" "\\;" value "${value}")  # a list stays one argument
  list(APPEND preset_arguments "-D${key}=${value}")
endforeach()

set(here "${CMAKE_CURRENT_LIST_DIR}")
set(build "${WORK_DIR}/build")
file(REMOVE_RECURSE "${WORK_DIR}")
file(WRITE "${WORK_DIR}/team.provisionprofile" "profile bytes")

function(configure)
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${build}" -G Ninja
            "-DCMAKE_MAKE_PROGRAM=${NINJA}" --toolchain "${here}/fake-mac/Toolchain.cmake"
            "-DCMAKE_PROJECT_TOP_LEVEL_INCLUDES=${here}/fake-mac/Packages.cmake"
            ${preset_arguments} ${ARGN}
    OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "The macos configure failed:\n${out}")
  endif()
endfunction()

# signing_inputs(<variable>): the inputs of the step that signs, one per line; order-only ones,
# which do not make it run again, left out.
function(signing_inputs variable)
  execute_process(COMMAND "${NINJA}" -C "${build}" -t targets all OUTPUT_VARIABLE targets)
  if(NOT targets MATCHES "(^|\n)([^\n]*TesslyHelper\\.signed): CUSTOM_COMMAND")
    message(FATAL_ERROR "No signing step that makes a file of its own:\n${targets}")
  endif()
  execute_process(COMMAND "${NINJA}" -C "${build}" -t query "${CMAKE_MATCH_2}"
                  OUTPUT_VARIABLE query)
  string(REGEX MATCH "input: CUSTOM_COMMAND\n([^|]*)" inputs "${query}")
  set(${variable} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

configure()
# A team build in the same tree: the settings file now holds the team's, and the profile is an
# input too.
configure("-DTESSLY_CODESIGN_IDENTITY=Apple Development: Tessly (ABCDE12345)"
          -DTESSLY_TEAM_ID=ABCDE12345
          "-DTESSLY_PROVISIONING_PROFILE=${WORK_DIR}/team.provisionprofile")
signing_inputs(inputs)
foreach(input "/Contents/MacOS/Tessly Helper" "/Contents/Info.plist" "/TesslyHelperSigning.txt"
              "/bundle/Sign.cmake" " ${WORK_DIR}/team.provisionprofile")
  if(NOT inputs MATCHES "${input}\n")
    message(FATAL_ERROR "Signing does not run again when ${input} changes:\n${inputs}")
  endif()
endforeach()
string(REGEX MATCH "[^ \n]*TesslyHelperSigning.txt" settings "${inputs}")
get_filename_component(settings "${settings}" ABSOLUTE BASE_DIR "${build}")
file(READ "${settings}" text)
if(NOT text MATCHES "IDENTITY=Apple Development: Tessly \\(ABCDE12345\\)\n" OR
   NOT text MATCHES "TEAM_ID=ABCDE12345\n")
  message(FATAL_ERROR "The team's settings are not in ${settings}:\n${text}")
endif()
message(STATUS "the macos configure asks for nlohmann_json alone; signing follows its inputs")

# The darwin C++ sources, built on Linux against a test-only emulation of the IOKit and
# CoreFoundation subset they call (tests/emulation/include comes first on the include path, so the
# sources' own <IOKit/IOKitLib.h> and <CoreFoundation/CoreFoundation.h> resolve to it). The
# Objective-C++ file and darwin/Defaults.cpp are not part of this build.
tessly_add_tests(darwin_emulation_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/../IOKitSMCDriver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../HIDTemperatureServices.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../SystemClock.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../LoginItemResult.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LoginItemResultTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/emulation/Emulation.cpp
    ${CMAKE_CURRENT_LIST_DIR}/IOKitSMCDriverTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HIDTemperatureServicesTest.cpp
  LIBS tessly_hid tessly_smc tessly_thermal tessly_agent
)
if(TARGET darwin_emulation_tests)
  target_include_directories(darwin_emulation_tests BEFORE PRIVATE
    "${CMAKE_CURRENT_LIST_DIR}/emulation/include")
  target_include_directories(darwin_emulation_tests PRIVATE "${CMAKE_CURRENT_LIST_DIR}/../include")
endif()

# The Objective-C++ files against GNUstep's headers: a selector typo, a wrong type or an ARC
# mistake fails here.
if(TESSLY_BUILD_TESTS)
  add_test(NAME darwin.objc_syntax
    COMMAND "${CMAKE_COMMAND}" "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}"
            "-DWARNINGS=${TESSLY_WARNING_FLAGS}" -P "${CMAKE_CURRENT_LIST_DIR}/ObjCSyntax.cmake")
  set_tests_properties(darwin.objc_syntax PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED:")
endif()

# The signing of Tessly Helper.app: a team build's entitlements and embedded profile, a local
# build's after it, and the codesign command of each, checked as files.
if(TESSLY_BUILD_TESTS)
  add_test(NAME darwin.signing
    COMMAND "${CMAKE_COMMAND}" "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}"
            "-DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/signing" -P "${CMAKE_CURRENT_LIST_DIR}/SignTest.cmake")
endif()

# The project configured as the `macos` preset does, for a stand-in Mac: the packages it asks for,
# and what makes the helper's signature run again. Reads the generated build with ninja's tools.
if(TESSLY_BUILD_TESTS AND CMAKE_GENERATOR STREQUAL "Ninja")
  add_test(NAME darwin.macos_configure
    COMMAND "${CMAKE_COMMAND}" "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}"
            "-DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/macos-configure" "-DNINJA=${CMAKE_MAKE_PROGRAM}"
            -P "${CMAKE_CURRENT_LIST_DIR}/MacosConfigureTest.cmake")
endif()

# The darwin C++ sources, built on Linux against a test-only emulation of the IOKit and
# CoreFoundation subset they call (tests/emulation/include comes first on the include path, so the
# sources' own <IOKit/IOKitLib.h> and <CoreFoundation/CoreFoundation.h> resolve to it). The
# Objective-C++ file and darwin/Defaults.cpp are not part of this build.
tessly_add_tests(darwin_emulation_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/../IOKitSMCDriver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../HIDTemperatureServices.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../SystemClock.cpp
    ${CMAKE_CURRENT_LIST_DIR}/emulation/Emulation.cpp
    ${CMAKE_CURRENT_LIST_DIR}/IOKitSMCDriverTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HIDTemperatureServicesTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SystemClockTest.cpp
  LIBS tessly_thermal tessly_smc tessly_sim
)
if(TARGET darwin_emulation_tests)
  target_include_directories(darwin_emulation_tests BEFORE PRIVATE
    "${CMAKE_CURRENT_LIST_DIR}/emulation/include")
  target_include_directories(darwin_emulation_tests PRIVATE "${CMAKE_CURRENT_LIST_DIR}/../include")
endif()

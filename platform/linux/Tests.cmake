# The Linux sensor backend's tests: hwmon sysfs trees built in temporary directories.
tessly_add_tests(linux_platform_tests
  SOURCES
    linux/tests/SysfsTree.cpp
    linux/tests/SysfsTextTest.cpp
    linux/tests/ContributionTest.cpp
    linux/tests/MachinesTest.cpp
    linux/tests/HwmonSMCDriverTest.cpp
    linux/tests/TemperatureServicesTest.cpp
    linux/tests/ConfinedFileReaderTest.cpp
    linux/tests/SensorReportTest.cpp
    linux/tests/EndToEndTest.cpp
  LIBS tessly_platform tessly_smc tessly_thermal tessly_sim
)
if(TARGET linux_platform_tests)
  target_compile_definitions(linux_platform_tests PRIVATE
    TESSLY_LINUX_FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/linux/tests/fixtures")
endif()

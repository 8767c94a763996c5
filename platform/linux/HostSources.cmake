# The application host, login item, system log and version text of the Linux agent.
set(TESSLY_PLATFORM_HOST_SOURCES
  linux/EventLoop.cpp
  linux/LinuxAppHost.cpp
  linux/XdgAutostart.cpp
  linux/Syslog.cpp
  linux/VersionText.cpp
)
set_source_files_properties(linux/VersionText.cpp PROPERTIES
  COMPILE_DEFINITIONS "TESSLY_VERSION_TEXT=\"${PROJECT_VERSION}\"")

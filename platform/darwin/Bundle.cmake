# The agent as the macOS application bundle "Tessly Helper.app": an accessory application
# (LSUIElement: no Dock icon, no menu bar) for macOS 14 and later, signed after every build with
# the entitlements of the container it shares with the main application (bundle/Sign.cmake).
#
# Where it goes: inside the main application, at Contents/Library/LoginItems/Tessly Helper.app,
# the place macOS looks for an application's login items. `cmake --install build/macos
# --component Helper --prefix "<Main>.app"` puts it there. It is signed here, before it is copied;
# the main application is signed afterwards (inner first), which seals the helper inside it.
#
# Included from agent/CMakeLists.txt on Apple platforms, after the tessly-helper target is made.

set(TESSLY_BUNDLE_IDENTIFIER "app.tessly.helper" CACHE STRING
  "CFBundleIdentifier of Tessly Helper.app")
set(TESSLY_CODESIGN_IDENTITY "-" CACHE STRING
  "codesign identity for Tessly Helper.app: '-' signs ad hoc, empty leaves the bundle unsigned")
set(TESSLY_TEAM_ID "" CACHE STRING
  "The team of a team build (with TESSLY_PROVISIONING_PROFILE and a team's identity)")
set(TESSLY_PROVISIONING_PROFILE "" CACHE FILEPATH
  "The provisioning profile that authorises the application group, for a team build")

# The application group comes from TesslyKit's groupID, so the entitlement and the code that
# looks the container up cannot drift apart.
file(STRINGS "${PROJECT_SOURCE_DIR}/exchange/include/TesslyKit/SensorBridge.h" tessly_group_line
  REGEX "groupID = \"[^\"]+\"")
string(REGEX MATCH "\"([^\"]+)\"" tessly_group_match "${tessly_group_line}")
set(TESSLY_GROUP_ID "${CMAKE_MATCH_1}")
if(NOT TESSLY_GROUP_ID MATCHES "^group\\.")
  message(FATAL_ERROR "Cannot read groupID from TesslyKit/SensorBridge.h")
endif()

set_target_properties(tessly-helper PROPERTIES
  MACOSX_BUNDLE TRUE
  OUTPUT_NAME "Tessly Helper"
  MACOSX_BUNDLE_INFO_PLIST "${CMAKE_CURRENT_LIST_DIR}/bundle/Info.plist.in"
  MACOSX_BUNDLE_BUNDLE_NAME "Tessly Helper"
  MACOSX_BUNDLE_GUI_IDENTIFIER "${TESSLY_BUNDLE_IDENTIFIER}"
  MACOSX_BUNDLE_SHORT_VERSION_STRING "${PROJECT_VERSION}"
  MACOSX_BUNDLE_BUNDLE_VERSION "${PROJECT_VERSION}"
)

if(TESSLY_CODESIGN_IDENTITY)
  add_custom_command(TARGET tessly-helper POST_BUILD
    COMMAND "${CMAKE_COMMAND}"
            "-DBUNDLE=$<TARGET_BUNDLE_DIR:tessly-helper>"
            "-DBUNDLE_ID=${TESSLY_BUNDLE_IDENTIFIER}"
            "-DGROUP_ID=${TESSLY_GROUP_ID}"
            "-DIDENTITY=${TESSLY_CODESIGN_IDENTITY}"
            "-DTEAM_ID=${TESSLY_TEAM_ID}"
            "-DPROFILE=${TESSLY_PROVISIONING_PROFILE}"
            "-DENTITLEMENTS=${CMAKE_CURRENT_BINARY_DIR}/TesslyHelper.entitlements"
            -P "${CMAKE_CURRENT_LIST_DIR}/bundle/Sign.cmake"
    COMMENT "Signing Tessly Helper.app"
    VERBATIM)
endif()

# The agent as the macOS application bundle "Tessly Helper.app": an accessory application
# (LSUIElement: no Dock icon, no menu bar) for macOS 14 and later, signed with the
# application-group entitlement of the container it shares with the main application.
#
# Included from agent/CMakeLists.txt on Apple platforms, right after the tessly-helper target is
# made and before it is installed:
#   if(APPLE)
#     include("${PROJECT_SOURCE_DIR}/platform/darwin/Bundle.cmake")
#   endif()

set(TESSLY_BUNDLE_IDENTIFIER "app.tessly.helper" CACHE STRING
  "CFBundleIdentifier of Tessly Helper.app")
set(TESSLY_CODESIGN_IDENTITY "-" CACHE STRING
  "codesign identity for Tessly Helper.app: '-' signs ad hoc, empty leaves the bundle unsigned")

# The application group comes from TesslyKit's groupID, so the entitlement and the code that
# looks the container up cannot drift apart.
file(STRINGS "${PROJECT_SOURCE_DIR}/exchange/include/TesslyKit/SensorBridge.h" tessly_group_line
  REGEX "groupID = \"[^\"]+\"")
string(REGEX MATCH "\"([^\"]+)\"" tessly_group_match "${tessly_group_line}")
set(TESSLY_GROUP_ID "${CMAKE_MATCH_1}")
if(NOT TESSLY_GROUP_ID MATCHES "^group\\.")
  message(FATAL_ERROR "Cannot read groupID from TesslyKit/SensorBridge.h")
endif()
set(tessly_entitlements "${CMAKE_CURRENT_BINARY_DIR}/TesslyHelper.entitlements")
configure_file("${CMAKE_CURRENT_LIST_DIR}/bundle/TesslyHelper.entitlements.in"
  "${tessly_entitlements}" @ONLY)

set_target_properties(tessly-helper PROPERTIES
  MACOSX_BUNDLE TRUE
  OUTPUT_NAME "Tessly Helper"
  MACOSX_BUNDLE_INFO_PLIST "${CMAKE_CURRENT_LIST_DIR}/bundle/Info.plist.in"
  MACOSX_BUNDLE_BUNDLE_NAME "Tessly Helper"
  MACOSX_BUNDLE_GUI_IDENTIFIER "${TESSLY_BUNDLE_IDENTIFIER}"
  MACOSX_BUNDLE_SHORT_VERSION_STRING "${PROJECT_VERSION}"
  MACOSX_BUNDLE_BUNDLE_VERSION "${PROJECT_VERSION}"
  XCODE_ATTRIBUTE_CODE_SIGN_ENTITLEMENTS "${tessly_entitlements}"
)

if(TESSLY_CODESIGN_IDENTITY)
  # The hardened runtime is what notarization asks for; it restricts nothing the agent does.
  add_custom_command(TARGET tessly-helper POST_BUILD
    COMMAND codesign --force --options runtime
            --entitlements "${tessly_entitlements}"
            --sign "${TESSLY_CODESIGN_IDENTITY}"
            "$<TARGET_BUNDLE_DIR:tessly-helper>"
    COMMENT "Signing Tessly Helper.app"
    VERBATIM)
endif()

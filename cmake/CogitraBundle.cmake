# The values that fill resources/macos/Info.plist.in: the bundle build and the test that
# reads the configured Info.plist back both take them from here.
set(COGITRA_APP_ID "com.ardentis.Cogitra")
set(COGITRA_INFO_PLIST_TEMPLATE "${PROJECT_SOURCE_DIR}/resources/macos/Info.plist.in")
set(COGITRA_ENTITLEMENTS "${PROJECT_SOURCE_DIR}/resources/macos/Cogitra.entitlements")

macro(cogitra_bundle_values)
  set(MACOSX_BUNDLE_EXECUTABLE_NAME cogitra)
  set(MACOSX_BUNDLE_BUNDLE_NAME Cogitra)
  set(MACOSX_BUNDLE_GUI_IDENTIFIER ${COGITRA_APP_ID})
  set(MACOSX_BUNDLE_ICON_FILE Cogitra.icns)
  set(MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION})
  set(MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION})
  set(MACOSX_BUNDLE_COPYRIGHT "Copyright Ardentis")
endmacro()

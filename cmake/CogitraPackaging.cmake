# What a package installs, and CPack's settings for it: a .deb on Linux (scripts/package),
# a .dmg holding Cogitra.app with Qt deployed into it on macOS. The string tables and the
# template picture are resources inside the programs; the editor site is a folder the
# program finds relative to itself (DefaultEditorSiteDir).
include(GNUInstallDirs)
include(${PROJECT_SOURCE_DIR}/cmake/CogitraBundle.cmake)
set(editor_site "${CMAKE_BINARY_DIR}/editor/site/")

if(APPLE)
  install(TARGETS cogitra BUNDLE DESTINATION .)
  install(DIRECTORY "${editor_site}" DESTINATION Cogitra.app/Contents/Resources/editor-site)
  # cogitra-cli rides in the bundle beside the application, where it shares the Qt and the
  # libraries deployed into Contents/Frameworks; users run it from there or link it onto
  # their PATH.
  install(TARGETS cogitra-cli RUNTIME DESTINATION Cogitra.app/Contents/MacOS)
  # macdeployqt, run on the installed bundle, copies Qt and Qt WebEngine into it and points
  # the cli at them too (it runs in the install folder: the paths are relative to that).
  set(deploy_script "${CMAKE_BINARY_DIR}/packaging/deploy-cogitra.cmake")
  file(GENERATE OUTPUT "${deploy_script}" CONTENT "
include(\"${QT_DEPLOY_SUPPORT}\")
qt_deploy_runtime_dependencies(
  EXECUTABLE Cogitra.app
  ADDITIONAL_EXECUTABLES Cogitra.app/Contents/MacOS/cogitra-cli)
")
  install(SCRIPT "${deploy_script}")
  set(CPACK_COGITRA_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
  set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/CogitraSignBundle.cmake")
  set(CPACK_GENERATOR DragNDrop)
  set(CPACK_DMG_VOLUME_NAME Cogitra)
  set(CPACK_PACKAGE_FILE_NAME "Cogitra-${PROJECT_VERSION}")
else()
  install(TARGETS cogitra cogitra-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # bin/../share/cogitra/editor-site is where the program looks.
  install(DIRECTORY "${editor_site}" DESTINATION ${CMAKE_INSTALL_DATADIR}/cogitra/editor-site)
  install(FILES "${PROJECT_SOURCE_DIR}/resources/linux/${COGITRA_APP_ID}.desktop"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file("${PROJECT_SOURCE_DIR}/resources/linux/${COGITRA_APP_ID}.metainfo.xml"
    "${CMAKE_BINARY_DIR}/packaging/${COGITRA_APP_ID}.metainfo.xml" @ONLY)
  install(FILES "${CMAKE_BINARY_DIR}/packaging/${COGITRA_APP_ID}.metainfo.xml"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  # The menu's icon in the hicolor sizes, scaled from the repo's picture.
  find_program(COGITRA_CONVERT convert)
  if(COGITRA_CONVERT)
    set(picture "${PROJECT_SOURCE_DIR}/resources/cogitra-icon.png")
    set(icons_dir "${CMAKE_BINARY_DIR}/packaging/icons")
    set(icons)
    foreach(size IN ITEMS 16 24 32 48 64 128 256 512)
      set(icon "${icons_dir}/hicolor/${size}x${size}/apps/${COGITRA_APP_ID}.png")
      get_filename_component(icon_dir "${icon}" DIRECTORY)
      add_custom_command(OUTPUT "${icon}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${icon_dir}"
        COMMAND "${COGITRA_CONVERT}" "${picture}" -resize ${size}x${size} -strip "${icon}"
        DEPENDS "${picture}"
        VERBATIM)
      list(APPEND icons "${icon}")
    endforeach()
    add_custom_target(cogitra_icons ALL DEPENDS ${icons})
    install(DIRECTORY "${icons_dir}/" DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
  else()
    message(WARNING "ImageMagick's convert is missing: packages will have no menu icon")
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION editors)
  # dpkg-shlibdeps names the Qt, libcurl and libplist packages the programs link.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_PACKAGE_NAME cogitra)
set(CPACK_PACKAGE_VENDOR Ardentis)
set(CPACK_PACKAGE_CONTACT Ardentis)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Mind-map editor for OneNote pages")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")
include(CPack)

# Run by CPack after the bundle is installed and Qt deployed into it, before the .dmg is
# made: signs it when COGITRA_SIGN_IDENTITY names a certificate.
if(NOT DEFINED ENV{COGITRA_SIGN_IDENTITY})
  return()
endif()
file(GLOB bundles "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.app"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/*.app")
foreach(bundle IN LISTS bundles)
  execute_process(COMMAND "${CPACK_COGITRA_SOURCE_DIR}/scripts/sign-macos" "${bundle}"
                          "$ENV{COGITRA_SIGN_IDENTITY}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# The Windows installer, quodrel-VERSION-setup.exe in the build folder: res/quodrel.nsi
# made by NSIS's makensis (a Debian package: make windows and make package install it),
# of the program and the DLL stripped as the zip's are. Left out where makensis is
# missing.
find_program(MAKENSIS makensis)
if(NOT MAKENSIS)
  message(STATUS "makensis not found: the installer is left out")
  return()
endif()
set(QUODREL_INSTALLER ${CMAKE_CURRENT_BINARY_DIR}/quodrel-${QUODREL_VERSION}-setup.exe)
set(payload ${CMAKE_CURRENT_BINARY_DIR}/installer)
add_custom_command(OUTPUT ${QUODREL_INSTALLER}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${payload}
  COMMAND ${CMAKE_STRIP} -o ${payload}/quodrel.exe $<TARGET_FILE:quodrel>
  COMMAND ${CMAKE_STRIP} -o ${payload}/quodrel.dll $<TARGET_FILE:quodrel_shared>
  # -V2: only warnings and errors are printed (not failing the build: NSIS releases
  # differ in what they warn of).
  COMMAND ${MAKENSIS} -V2 -DVERSION=${QUODREL_VERSION} -DPROGRAM_DIR=${payload}
    -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR} -DOUTFILE=${QUODREL_INSTALLER}
    ${CMAKE_CURRENT_SOURCE_DIR}/res/quodrel.nsi
  DEPENDS res/quodrel.nsi res/quodrel.ico README.md LICENSE quodrel quodrel_shared
  WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
  VERBATIM)
add_custom_target(installer ALL DEPENDS ${QUODREL_INSTALLER})

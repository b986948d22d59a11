# The packages of the Windows program: a portable zip and an installer made with makensis (package/Brasko.nsi).
#
# brasko_package(<target> <exe-target> <site> <folder>) adds the target <target>, which writes into <folder>
#   Brasko-<version>-<arch>.zip    a folder "Brasko tracker" with Brasko.exe, background.jpg, ReadMe.txt, License.txt
#   BraskoSetup-<version>-<arch>.exe  the installer of the same files
# for the program built by <exe-target>, a build for the site <site> (host or host:port).

find_program(BRASKO_MAKENSIS makensis)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "64")
  set(BRASKO_PACKAGE_ARCH win64)
else()
  set(BRASKO_PACKAGE_ARCH win32)
endif()

function(brasko_package target exe_target site folder)
  if(NOT BRASKO_MAKENSIS)
    message(STATUS "makensis not found: no ${target}")
    return()
  endif()
  set(VERSION ${PROJECT_VERSION})
  set(ARCH ${BRASKO_PACKAGE_ARCH})
  set(SITE ${site})
  set(stage ${folder}/stage-${target})
  set(readme ${CMAKE_CURRENT_BINARY_DIR}/${target}-ReadMe.txt)
  configure_file(${PROJECT_SOURCE_DIR}/package/ReadMe.txt ${readme} @ONLY NEWLINE_STYLE CRLF)
  # The name the running program marks itself with, which the installer needs to end it.
  string(REPLACE "\\" "/" running_copy "Brasko tracker ${site}")
  set(zip ${folder}/Brasko-${VERSION}-${ARCH}.zip)
  set(setup ${folder}/BraskoSetup-${VERSION}-${ARCH}.exe)
  set(files $<TARGET_FILE:${exe_target}> ${PROJECT_SOURCE_DIR}/app/background.jpg ${PROJECT_SOURCE_DIR}/LICENSE)
  add_custom_command(
    OUTPUT ${zip}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/Brasko\ tracker
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${exe_target}> ${stage}/Brasko\ tracker/Brasko.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/app/background.jpg ${stage}/Brasko\ tracker/
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/LICENSE ${stage}/Brasko\ tracker/License.txt
    COMMAND ${CMAKE_COMMAND} -E copy ${readme} ${stage}/Brasko\ tracker/ReadMe.txt
    COMMAND ${CMAKE_COMMAND} -E rm -f ${zip}
    COMMAND ${CMAKE_COMMAND} -E chdir ${stage} ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip "Brasko tracker"
    DEPENDS ${exe_target} ${files} ${readme}
    VERBATIM)
  add_custom_command(
    OUTPUT ${setup}
    COMMAND ${BRASKO_MAKENSIS} -V2 -DVERSION=${VERSION} -DARCH=${ARCH} -DEXE=$<TARGET_FILE:${exe_target}>
            -DBACKGROUND=${PROJECT_SOURCE_DIR}/app/background.jpg -DREADME=${readme}
            -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE -DICON=${PROJECT_SOURCE_DIR}/app/Brasko.ico
            -DRUNNING_COPY=${running_copy} -DOUTFILE=${setup} ${PROJECT_SOURCE_DIR}/package/Brasko.nsi
    DEPENDS ${exe_target} ${files} ${readme} ${PROJECT_SOURCE_DIR}/package/Brasko.nsi
    VERBATIM)
  add_custom_target(${target} DEPENDS ${zip} ${setup})
endfunction()

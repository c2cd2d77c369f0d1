# Run by cpack's External generator (cmake/CorvanePackaging.cmake) after the
# install rules staged the package into CPACK_TEMPORARY_DIRECTORY: the same
# files as the zip. Writes the installer's file lists from that folder and
# builds CorvaneHID-<version>-setup.exe with makensis.
#
# Files under config\ are the example configuration; everything else is a
# program file, replaced at every upgrade and removed by the uninstaller.

set(stage "${CPACK_TEMPORARY_DIRECTORY}")
set(work "${CPACK_TOPLEVEL_DIRECTORY}/installer")
file(MAKE_DIRECTORY "${work}")
if(NOT CPACK_CORVANE_MAKENSIS)
  message(FATAL_ERROR "makensis was not found when the build was configured (Debian: apt-get install nsis)")
endif()

file(GLOB_RECURSE staged RELATIVE "${stage}" LIST_DIRECTORIES false "${stage}/*")
list(SORT staged)
if(NOT "CorvaneHID.exe" IN_LIST staged)
  message(FATAL_ERROR "CorvaneHID.exe is not among the staged files: ${staged}")
endif()

# Windows paths for the installed side, native paths for makensis' side.
set(install_files "")
set(install_examples "")
set(remove_files "")
set(folders "")
foreach(file IN LISTS staged)
  get_filename_component(dir "${file}" DIRECTORY)
  get_filename_component(name "${file}" NAME)
  string(REPLACE "/" "\\" windows_dir "${dir}")
  if(dir STREQUAL "config")
    string(APPEND install_examples
      "  SetOutPath \"$INSTDIR\\config\\examples\"\n  File \"${stage}/${file}\"\n"
      "  SetOutPath \"$INSTDIR\\config\"\n  SetOverwrite off\n  File \"${stage}/${file}\"\n  SetOverwrite on\n")
    string(APPEND remove_files "  Delete \"$INSTDIR\\config\\examples\\${name}\"\n")
    list(APPEND folders "config\\examples")
  else()
    set(target "$INSTDIR")
    if(dir)
      set(target "$INSTDIR\\${windows_dir}")
      list(APPEND folders "${windows_dir}")
    endif()
    string(APPEND install_files "  SetOutPath \"${target}\"\n  File \"${stage}/${file}\"\n")
    string(APPEND remove_files "  Delete \"${target}\\${name}\"\n")
  endif()
endforeach()
# Deepest first, and only when empty (RMDir without /r): files the user put
# there stay, and so does their folder.
list(REMOVE_DUPLICATES folders)
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
  string(APPEND remove_files "  RMDir \"$INSTDIR\\${folder}\"\n")
endforeach()

file(WRITE "${work}/files.nsh"
  "; Written by make_installer.cmake from the staged package.\n"
  "!macro CorvaneInstallProgramFiles\n${install_files}  SetOutPath \"$INSTDIR\"\n!macroend\n"
  "!macro CorvaneInstallExamples\n${install_examples}  SetOutPath \"$INSTDIR\"\n!macroend\n"
  "!macro CorvaneRemoveProgramFiles\n${remove_files}!macroend\n")

string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)" numbers "${CPACK_PACKAGE_VERSION}")
set(setup "${work}/CorvaneHID-${CPACK_PACKAGE_VERSION}-setup.exe")
execute_process(
  COMMAND "${CPACK_CORVANE_MAKENSIS}" -V2 -WX -NOCD
    "-DVERSION=${CPACK_PACKAGE_VERSION}"
    "-DVERSION_NUMBERS=${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}.0"
    "-DPUBLISHER=${CPACK_PACKAGE_VENDOR}"
    "-DFILES=${work}/files.nsh"
    "-DLICENSE=${stage}/LICENSE.txt"
    "-DOUTFILE=${setup}"
    "${CPACK_CORVANE_NSI}"
  WORKING_DIRECTORY "${work}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "makensis failed (${result})")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES "${setup}")

; The Windows installer: CorvaneHID for the current Windows user, without
; administrator rights, registered with the simulator at the end; and its
; uninstaller, which takes the registration away before the program.
;
; Built by packaging/windows/make_installer.cmake (the build's package
; target), which defines VERSION, VERSION_NUMBERS (four numbers), PUBLISHER,
; FILES (the file lists made from the staged package), LICENSE and OUTFILE.
; Both run silently with /S; a silent uninstall keeps the configuration.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "${FILES}"

!define PRODUCT "CorvaneHID"
!define PROGRAM "CorvaneHID.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\CorvaneHID"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION_NUMBERS}"
VIFileVersion "${VERSION_NUMBERS}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 The CorvaneHID developers. MIT License."
VIAddVersionKey /LANG=1033 "OriginalFilename" "${PRODUCT}-${VERSION}-setup.exe"

!define MUI_ABORTWARNING
; The details stay on screen: they hold what --register answered.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Check the setup now (CorvaneHID.exe --check)"
!define MUI_FINISHPAGE_RUN_FUNCTION RunCheck
; A text file: Windows opens .txt with Notepad, .md perhaps with nothing.
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show README.txt (what is where)"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Runs the installed program with ARGUMENTS, waits for it, and writes what it
; printed into the details. Leaves the exit code in $0 and the output in $1.
!macro CorvaneRun ARGUMENTS
  nsExec::ExecToStack '"$INSTDIR\${PROGRAM}" ${ARGUMENTS}'
  Pop $0
  Pop $1
  DetailPrint "${PROGRAM} ${ARGUMENTS}: $1"
!macroend

; A running copy holds its files open: the simulator may have started it.
; It has no window to close, so it is ended.
!macro CorvaneStopRunning
  nsExec::ExecToStack '"$SYSDIR\taskkill.exe" /F /IM ${PROGRAM}'
  Pop $0
  Pop $1
  ${If} $0 == 0
    DetailPrint "Ended the running ${PROGRAM}."
    Sleep 500
  ${EndIf}
!macroend

Function RunCheck
  ; cmd /k keeps the window open after the check; start /wait makes it wait
  ; for the program, as in the installation guide.
  Exec '"$SYSDIR\cmd.exe" /k start "" /wait "$INSTDIR\${PROGRAM}" --check'
FunctionEnd

Section "CorvaneHID" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  !insertmacro CorvaneStopRunning
  !insertmacro CorvaneInstallProgramFiles
  ; config\examples always gets this version's examples; config\ gets them
  ; only where no file of that name is, so that an upgrade keeps the user's.
  !insertmacro CorvaneInstallExamples
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} - check setup.lnk" "$SYSDIR\cmd.exe" \
    '/k start "" /wait "$INSTDIR\${PROGRAM}" --check' "$INSTDIR\${PROGRAM}"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} console.lnk" "$SYSDIR\cmd.exe" \
    '/k start "" /wait "$INSTDIR\${PROGRAM}" --console' "$INSTDIR\${PROGRAM}"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\Configuration folder.lnk" "$INSTDIR\config"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\Documentation.lnk" "$INSTDIR\docs"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\${UNINSTALLER}"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"

  ; The program's own answer, shown as it is: a failure is not hidden.
  DetailPrint "Registering with the simulator..."
  !insertmacro CorvaneRun "--register"
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "CorvaneHID could not register itself with the simulator:$\r$\n$\r$\n$1$\r$\nThe program is installed. Correct what the message names (docs\troubleshooting.md) and run $\"${PRODUCT} - check setup$\" from the Start menu." /SD IDOK
  ${EndIf}
  StrCpy $2 $1 38
  ${If} $0 == 0
  ${AndIf} $2 == "Registered in 0 MSFS EXE.xml file(s)."
    DetailPrint "No simulator folder was found for this Windows user: start the simulator once, then run $\"${PRODUCT}.exe --register$\" (docs\installation.md)."
  ${EndIf}
SectionEnd

; --- The uninstaller.

Section "un.CorvaneHID" UnSecProgram
  SectionIn RO
  ; First out of the simulator's lists: a program removed while still
  ; registered makes the simulator complain at every start.
  DetailPrint "Unregistering from the simulator..."
  !insertmacro CorvaneRun "--unregister"
  ${If} $0 != 0
    MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "CorvaneHID could not remove its entry from the simulator's EXE.xml:$\r$\n$\r$\n$1$\r$\nPress Cancel, correct the file (docs\troubleshooting.md) and uninstall again; or press OK to remove the program anyway and leave the entry." /SD IDCANCEL IDOK unregister_done
    Abort "CorvaneHID was not removed: its simulator entry could not be removed."
  ${EndIf}
  unregister_done:
  !insertmacro CorvaneStopRunning
  !insertmacro CorvaneRemoveProgramFiles
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir /r "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; Not ticked unless the user ticks it, so a silent uninstall keeps them.
Section /o "un.Remove my configuration and logs" UnSecConfiguration
  RMDir /r "$INSTDIR\config"
  Delete "$INSTDIR\CorvaneHID.log"
  Delete "$INSTDIR\CorvaneHID.log.*"
  ; The logs of the runs the simulator started: the machine-wide folder.
  SetShellVarContext all
  Delete "$APPDATA\Corvane\logs\CorvaneHID.log"
  Delete "$APPDATA\Corvane\logs\CorvaneHID.log.*"
  RMDir "$APPDATA\Corvane\logs"
  SetShellVarContext current
SectionEnd

Section "-un.Folder"
  ; Only when empty: files the user put there stay.
  RMDir "$INSTDIR"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecProgram} "The program, its documentation and its Start menu entries, after removing its entry from the simulator's EXE.xml."
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecConfiguration} "Your configuration (the config folder) and the log files. Leave this unticked to keep them for a later installation."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

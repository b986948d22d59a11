; The installer of the Brasko tracker. scripts/package (and the installer test) make it with makensis from one build:
;   makensis -DVERSION=1.0.0 -DARCH=win64 -DEXE=... -DBACKGROUND=... -DREADME=... -DLICENSE=...
;            -DRUNNING_COPY="Brasko tracker <site>" -DOUTFILE=... package/Brasko.nsi
; It installs for the current user by default, under the user's own programs folder, where the program can write its
; page file beside itself; /AllUsers (or the choice on the first page, for an administrator) installs under Program
; Files for every user, where nothing is writable for users, and each user's program keeps its page in that user's
; own folder. /S runs it without a window. The installer may run elevated from a downloads folder: the system tools
; it starts are named by their full path, and the program it offers to start is started as the signed-in user.

Unicode true
!if "${ARCH}" == "win64"
  Target amd64-unicode
  !define MULTIUSER_USE_PROGRAMFILES64
!else
  Target x86-unicode
!endif
SetCompressor /SOLID lzma

!define NAME "Brasko tracker"
!define PUBLISHER "Ulmquist"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "${NAME}"
OutFile "${OUTFILE}"
BrandingText "${NAME} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${NAME} setup"
VIAddVersionKey "FileVersion" "${VERSION}.0"
VIAddVersionKey "ProductVersion" "${VERSION}.0"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "${NAME}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!define MULTIUSER_MUI
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartAsSignedInUser
!define MUI_FINISHPAGE_RUN_TEXT "Start ${NAME} now"

!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Ends a running copy of this build and waits (at most ten seconds) until it has gone: the copy holds its named mark
; for as long as it runs, and ends when one of its "Configuratie" windows gets the exit request.
!macro END_RUNNING_COPY prefix
Function ${prefix}EndRunningCopy
  System::Call 'user32::RegisterWindowMessageW(w "${RUNNING_COPY} exit") i .r1'
  StrCpy $0 0
  ${Do}
    FindWindow $0 "TForm" "Configuratie" "" $0
    ${If} $0 == 0
      ${Break}
    ${EndIf}
    System::Call 'user32::PostMessageW(p r0, i r1, p 0, p 0)'
  ${Loop}
  StrCpy $2 0
  ${Do}
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Local\${RUNNING_COPY}") p .r3'
    ${If} $3 == 0
      ${Break}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r3)'
    IntOp $2 $2 + 1
    ${If} $2 > 100
      ${Break}
    ${EndIf}
    Sleep 100
  ${Loop}
FunctionEnd
!macroend
!insertmacro END_RUNNING_COPY ""
!insertmacro END_RUNNING_COPY "un."

; "Start now" asks the desktop's shell to start the program: the shell runs as the signed-in user without
; elevation, while this installer may run elevated, and a program it started itself would be elevated too.
Function StartAsSignedInUser
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\Brasko.exe"'
FunctionEnd

Function .onInit
  !if "${ARCH}" == "win64"
    ${IfNot} ${RunningX64}
      MessageBox MB_OK|MB_ICONSTOP "This is the 64-bit ${NAME}; this Windows needs the 32-bit one."
      Abort
    ${EndIf}
    SetRegView 64
  !endif
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  !if "${ARCH}" == "win64"
    SetRegView 64
  !endif
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "${NAME}" SectionProgram
  SectionIn RO
  Call EndRunningCopy
  SetOutPath "$INSTDIR"
  File "/oname=Brasko.exe" "${EXE}"
  File "/oname=background.jpg" "${BACKGROUND}"
  File "/oname=ReadMe.txt" "${README}"
  File "/oname=License.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ; An older version made the page here writable for every user, so that one user could change the page another
  ; user's program shows. Each user's program now keeps its page in that user's own folder; the old one goes, and
  ; its permissions are put back first, so that a copy still in use (removed only at the next restart) is no longer
  ; writable for anyone but administrators in the meantime.
  ${If} $MultiUser.InstallMode == "AllUsers"
  ${AndIf} ${FileExists} "$INSTDIR\htmlAll.html"
    nsExec::Exec '"$SYSDIR\icacls.exe" "$INSTDIR\htmlAll.html" /reset'
    Pop $0
    Delete /REBOOTOK "$INSTDIR\htmlAll.html"
  ${EndIf}
  CreateShortCut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\Brasko.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Brasko.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Start at sign-in" SectionRun
  WriteRegStr SHCTX "${RUN_KEY}" "${NAME}" '"$INSTDIR\Brasko.exe"'
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionProgram} "The program, its page background, its read-me and licence, and its Start-menu entry."
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionRun} "Start ${NAME} each time you sign in to Windows."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; The folder goes last, so that once it has gone the rest has gone too.
Section "Uninstall"
  Call un.EndRunningCopy
  Delete "$SMPROGRAMS\${NAME}.lnk"
  DeleteRegValue SHCTX "${RUN_KEY}" "${NAME}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ; The page the program kept in the user's own folder where it could not write beside itself: the removing user's
  ; (other users' folders are theirs). SHCTX follows this context too, so it changes only after the keys have gone.
  SetShellVarContext current
  Delete "$LOCALAPPDATA\${NAME}\htmlAll.html"
  Delete "$LOCALAPPDATA\${NAME}\background.jpg"
  RMDir "$LOCALAPPDATA\${NAME}"
  Delete "$INSTDIR\Brasko.exe"
  Delete "$INSTDIR\background.jpg"
  Delete "$INSTDIR\htmlAll.html"
  Delete "$INSTDIR\ReadMe.txt"
  Delete "$INSTDIR\License.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd

; The Windows installer, built by makensis (NSIS) on Linux (cmake/installer.cmake):
;   makensis -DVERSION=1.01 -DPROGRAM_DIR=DIR -DSOURCE=. -DOUTFILE=FILE res/quodrel.nsi
; with quodrel.exe and quodrel.dll in DIR.
; Per user, without administrator rights: the program, its DLL, the README and the
; licence in %LOCALAPPDATA%\Programs\Quodrel, a Start menu entry, an entry in the
; user's installed apps, and two verbs on Explorer's right-click menu that run the
; drop route. Everything is written below the user's own folders and HKCU.
; /S installs silently; /D=FOLDER (last, unquoted) installs elsewhere.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true
ManifestSupportedOS all

!include LogicLib.nsh
!include FileFunc.nsh
!include Integration.nsh
!include MUI2.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quodrel"
; The verbs' own keys, named after the program so that no other program's are touched.
; A folder's verb; a .dat file's verb, under SystemFileAssociations so that whatever
; program opens .dat files by default keeps doing so. (The upgrade's test gives an
; older version other names.)
!ifndef PACK_VERB
  !define PACK_VERB "Quodrel.Pack"
!endif
!ifndef UNPACK_VERB
  !define UNPACK_VERB "Quodrel.Unpack"
!endif
!define PACK_KEY "Software\Classes\Directory\shell\${PACK_VERB}"
!define UNPACK_KEY "Software\Classes\SystemFileAssociations\.dat\shell\${UNPACK_VERB}"

Name "Quodrel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quodrel"
; An upgrade goes where the earlier version is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

; The installer carries the program's icon and version.
!define MUI_ICON "${SOURCE}\res\quodrel.ico"
!define MUI_UNICON "${SOURCE}\res\quodrel.ico"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "Quodrel"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Quodrel ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "the Quodrel developers"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 the Quodrel developers (MIT License)"

!insertmacro MUI_PAGE_LICENSE "${SOURCE}\LICENSE"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Quodrel"
  ; An earlier install is removed by its own uninstaller first (it knows what it put
  ; where), so nothing of it stays behind; in place (_?=), so that it is waited for.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    DetailPrint "Removing the earlier version from $0"
    ExecWait '"$0\uninstall.exe" /S /upgrade _?=$0' $1
    ${If} $1 != 0
      MessageBox MB_OK|MB_ICONSTOP "The earlier version in $0 could not be removed (is Quodrel running?)." /SD IDOK
      Abort
    ${EndIf}
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${PROGRAM_DIR}\quodrel.exe"
  File "${PROGRAM_DIR}\quodrel.dll"
  File "${SOURCE}\README.md"
  File "${SOURCE}\LICENSE"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\Quodrel.lnk" "$INSTDIR\quodrel.exe" "" "$INSTDIR\quodrel.exe" 0

  ; Explorer's right-click menu: the drop route, on the item's whole path.
  WriteRegStr HKCU "${PACK_KEY}" "" "Pack into a .dat archive (Quodrel)"
  WriteRegStr HKCU "${PACK_KEY}" "Icon" "$INSTDIR\quodrel.exe,0"
  WriteRegStr HKCU "${PACK_KEY}\command" "" '"$INSTDIR\quodrel.exe" "%1"'
  WriteRegStr HKCU "${UNPACK_KEY}" "" "Unpack into a folder (Quodrel)"
  WriteRegStr HKCU "${UNPACK_KEY}" "Icon" "$INSTDIR\quodrel.exe,0"
  WriteRegStr HKCU "${UNPACK_KEY}\command" "" '"$INSTDIR\quodrel.exe" "%1"'

  ; The user's list of installed apps.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Quodrel"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "the Quodrel developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "https://quodrel.org"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quodrel.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ; The uninstaller runs where it is (_?=, the last argument, unquoted): it does not copy
  ; itself into %TEMP% first, where that copy would stay.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" _?=$INSTDIR'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${NotifyShell_AssocChanged}
SectionEnd

; Removes exactly what the installer wrote, and the keys above it that it made and
; that nothing else uses now (a key with no subkey and no value).
Section "Uninstall"
  Delete "$INSTDIR\quodrel.exe"
  Delete "$INSTDIR\quodrel.dll"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Quodrel.lnk"

  DeleteRegKey HKCU "${PACK_KEY}"
  DeleteRegKey /ifempty /ifnovalues HKCU "Software\Classes\Directory\shell"
  DeleteRegKey /ifempty /ifnovalues HKCU "Software\Classes\Directory"
  DeleteRegKey HKCU "${UNPACK_KEY}"
  DeleteRegKey /ifempty /ifnovalues HKCU "Software\Classes\SystemFileAssociations\.dat\shell"
  DeleteRegKey /ifempty /ifnovalues HKCU "Software\Classes\SystemFileAssociations\.dat"
  DeleteRegKey /ifempty /ifnovalues HKCU "Software\Classes\SystemFileAssociations"
  DeleteRegKey /ifempty /ifnovalues HKCU "Software\Classes"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey /ifempty /ifnovalues HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall"
  ${NotifyShell_AssocChanged}

  ; A newer version's installer removes this uninstaller itself once it has ended.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/upgrade" $1
  ${If} ${Errors}
    RMDir "$LOCALAPPDATA\Programs"
    Call un.RemoveSelfAfterExit
  ${EndIf}
SectionEnd

; A running program cannot delete its own file: cmd.exe does it once this uninstaller
; has ended, and removes its folder, and %LOCALAPPDATA%\Programs, if they are empty
; then. It waits by reading a pipe whose other end only this process holds, which ends
; when the process does; the file may stay locked a moment longer, so it tries again.
Function un.RemoveSelfAfterExit
  ; SECURITY_ATTRIBUTES {nLength, lpSecurityDescriptor, bInheritHandle}: inherited.
  System::Call '*(i 24, i 0, p 0, i 1, i 0) p .r9'
  System::Call 'kernel32::CreatePipe(*p .r2, *p .r3, p r9, i 0) i .r0'
  System::Free $9
  ${If} $0 = 0
    Return
  ${EndIf}
  System::Call 'kernel32::SetHandleInformation(p r3, i 1, i 0)' ; HANDLE_FLAG_INHERIT off
  ; STARTUPINFOW with STARTF_USESTDHANDLES: the pipe's read end is the standard input.
  System::Call '*(i 104, i 0, p 0, p 0, p 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0x100, &i2 0, &i2 0, i 0, p 0, p r2, p 0, p 0) p .r4'
  System::Call '*(p 0, p 0, i 0, i 0) p .r5' ; PROCESS_INFORMATION
  StrCpy $6 '"$SYSDIR\cmd.exe" /d /q /s /c "set /p _= & for /l %i in (1,1,1000) do (del /f /q "$EXEPATH" 2>nul & if not exist "$EXEPATH" (rd "$EXEDIR" 2>nul & rd "$INSTDIR" 2>nul & rd "$LOCALAPPDATA\Programs" 2>nul & exit))"'
  ; CREATE_NO_WINDOW, started in the system folder, which it never holds.
  System::Call 'kernel32::CreateProcessW(p 0, w r6, p 0, p 0, i 1, i 0x08000000, p 0, w "$SYSDIR", p r4, p r5) i .r0'
  ${If} $0 <> 0
    System::Call '*$5(p .r7, p .r8)'
    System::Call 'kernel32::CloseHandle(p r7)'
    System::Call 'kernel32::CloseHandle(p r8)'
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p r2)'
  System::Free $4
  System::Free $5
  ; The write end ($3) stays open until this process ends.
FunctionEnd

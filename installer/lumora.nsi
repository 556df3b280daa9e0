; The installer of the program folder (Setup.exe), made by makensis (NSIS 3,
; Unicode) from a build's shipped folder; scripts/make-installer.sh writes the
; settings and the file lists it includes:
;   ${SETTINGS}     !defines: NAME, PUBLISHER, SCHEME, LAUNCH_ARGS, VERSION_TEXT,
;                   VERSION_FIELDS, ARCH (x86 or amd64), OUTFILE
;   ${FILES}        SetOutPath/File lines of the shipped files
;   ${UNFILES}      Delete/RMDir lines of the same files
;   ${UNFINALIZE}   optional: the command that signs the uninstaller
;
; It installs for all users into Program Files (administrators only may write
; there), registers the URL scheme below HKLM\Software\Classes (all users; the
; key Wine's shell reads too), adds Start-menu and desktop shortcuts, and an
; entry in "Programs and Features". Switches: /S silent, /D=<folder> (last,
; unquoted) the folder; the uninstaller takes /S.
Unicode true
!include /CHARSET=UTF8 "${SETTINGS}"
Target ${ARCH}-unicode
!include MUI2.nsh
!include LogicLib.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumora.${SCHEME}"
!define SCHEME_KEY "Software\Classes\${SCHEME}"

Name "${NAME}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
ManifestSupportedOS all
SetCompressor /SOLID lzma
!if ${ARCH} == amd64
  InstallDir "$PROGRAMFILES64\${NAME}"
!else
  InstallDir "$PROGRAMFILES\${NAME}"
!endif
ShowInstDetails show
ShowUninstDetails show
!ifdef UNFINALIZE
  !uninstfinalize '${UNFINALIZE}'
!endif

VIProductVersion "${VERSION_FIELDS}"
VIFileVersion "${VERSION_FIELDS}"
VIAddVersionKey /LANG=2052 "ProductName" "${NAME}"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "FileDescription" "${NAME} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION_TEXT}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION_TEXT}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "${PUBLISHER}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Function .onInit
  SetShellVarContext all
!if ${ARCH} == amd64
  SetRegView 64
!endif
FunctionEnd

Function un.onInit
  SetShellVarContext all
!if ${ARCH} == amd64
  SetRegView 64
!endif
FunctionEnd

Section "Install"
  !include /CHARSET=UTF8 "${FILES}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The URL scheme: the shell hands a link to Portus with the quoted URL as
  ; its whole command-line tail.
  WriteRegStr HKLM "${SCHEME_KEY}" "" "URL:${SCHEME}"
  WriteRegStr HKLM "${SCHEME_KEY}" "URL Protocol" ""
  WriteRegStr HKLM "${SCHEME_KEY}\DefaultIcon" "" '"$INSTDIR\Lumora.exe",0'
  WriteRegStr HKLM "${SCHEME_KEY}\shell\open\command" "" '"$INSTDIR\Portus.exe" "%1"'

  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME}.lnk" "$INSTDIR\Lumora.exe" '${LAUNCH_ARGS}' "$INSTDIR\Lumora.exe" 0
  CreateShortcut "$SMPROGRAMS\${NAME}\卸载 ${NAME}.lnk" "$INSTDIR\Uninstall.exe"
  CreateShortcut "$DESKTOP\${NAME}.lnk" "$INSTDIR\Lumora.exe" '${LAUNCH_ARGS}' "$INSTDIR\Lumora.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_TEXT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\Lumora.exe",0'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; What the programs wrote while they ran: records, logs, downloaded
  ; packages and partial downloads, crash reports. The hall and the platform
  ; resources that the operator's packages installed are theirs to remove,
  ; and anything else in the folder stays.
  Delete "$INSTDIR\Config\config.db"
  Delete "$INSTDIR\Config\config.db-journal"
  RMDir "$INSTDIR\Config"
  Delete "$INSTDIR\Log\Install\*.log"
  RMDir "$INSTDIR\Log\Install"
  Delete "$INSTDIR\Log\*.log"
  RMDir "$INSTDIR\Log"
  Delete "$INSTDIR\Download\*.pkg.exe"
  Delete "$INSTDIR\Download\*.part"
  RMDir "$INSTDIR\Download"
  Delete "$INSTDIR\CrashDumps\crash_*.dmp"
  Delete "$INSTDIR\CrashDumps\crash_*.txt"
  RMDir "$INSTDIR\CrashDumps"

  !include /CHARSET=UTF8 "${UNFILES}"

  Delete "$DESKTOP\${NAME}.lnk"
  Delete "$SMPROGRAMS\${NAME}\${NAME}.lnk"
  Delete "$SMPROGRAMS\${NAME}\卸载 ${NAME}.lnk"
  RMDir "$SMPROGRAMS\${NAME}"

  ; The scheme only while it still names this folder's Portus: a later
  ; installation elsewhere (or another program) may have taken it over.
  ReadRegStr $0 HKLM "${SCHEME_KEY}\shell\open\command" ""
  ${If} $0 == '"$INSTDIR\Portus.exe" "%1"'
    DeleteRegKey HKLM "${SCHEME_KEY}"
  ${EndIf}
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  ; The entry in Programs and Features goes last: once it is gone, the
  ; uninstallation is over (scripts that ran "/S" wait for that).
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd

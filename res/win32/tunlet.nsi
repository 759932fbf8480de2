; Tunlet's setup program: a per-user install (no administrator prompt) into
; %LOCALAPPDATA%\Programs\Tunlet with a Start-menu shortcut, "Open with Tunlet" for
; NSF, NSFe and iNES files, an Apps & features entry and an uninstaller. /S installs
; and uninstalls silently; /D=FOLDER (last on the command line) picks the folder.
; scripts/build-windows runs it:
;   makensis -DVERSION=1.0.0.1 -DSTAGE=folder-with-the-files -DOUTFILE=setup.exe tunlet.nsi
Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include FileFunc.nsh

!define APP "Tunlet"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define CLASSES "Software\Classes"

Name "${APP}"
OutFile "${OUTFILE}"
Icon "tunlet.ico"
UninstallIcon "tunlet.ico"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "FileDescription" "${APP} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "The Tunlet developers"
VIAddVersionKey "LegalCopyright" "2026 The Tunlet developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The files the program is made of; the uninstaller removes exactly these.
!macro Files DO
  !insertmacro ${DO} "tunlet.exe"
  !insertmacro ${DO} "tunlet-cli.exe"
  !insertmacro ${DO} "README.txt"
  !insertmacro ${DO} "LICENSE.txt"
!macroend
!macro PutFile NAME
  File "${STAGE}/${NAME}"
!macroend
!macro RemoveFile NAME
  Delete "$INSTDIR\${NAME}"
!macroend

; The file types: extension, ProgID, description. "Open with" offers Tunlet for each
; without taking the user's default program away.
!macro FileTypes DO
  !insertmacro ${DO} ".nsf" "Tunlet.nsf" "NSF tune"
  !insertmacro ${DO} ".nsfe" "Tunlet.nsfe" "NSFe tune"
  !insertmacro ${DO} ".nes" "Tunlet.nes" "iNES ROM"
!macroend
!macro AddFileType EXT PROGID DESCRIPTION
  WriteRegStr HKCU "${CLASSES}\${PROGID}" "" "${DESCRIPTION}"
  WriteRegStr HKCU "${CLASSES}\${PROGID}\DefaultIcon" "" "$INSTDIR\tunlet.exe,0"
  WriteRegStr HKCU "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\tunlet.exe" "%1"'
  WriteRegStr HKCU "${CLASSES}\${EXT}\OpenWithProgids" "${PROGID}" ""
!macroend
!macro RemoveFileType EXT PROGID DESCRIPTION
  DeleteRegKey HKCU "${CLASSES}\${PROGID}"
  DeleteRegValue HKCU "${CLASSES}\${EXT}\OpenWithProgids" "${PROGID}"
  ; The keys only when nothing of the user's (a default program, other values) is in them.
  DeleteRegKey /ifnosubkeys /ifnovalues HKCU "${CLASSES}\${EXT}\OpenWithProgids"
  DeleteRegKey /ifnosubkeys /ifnovalues HKCU "${CLASSES}\${EXT}"
!macroend

Section
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  !insertmacro Files PutFile
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\tunlet.exe" "" "$INSTDIR\tunlet.exe" 0

  !insertmacro FileTypes AddFileType
  ; SHCNE_ASSOCCHANGED: Explorer reads the file types again.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Tunlet developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tunlet.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  !insertmacro Files RemoveFile
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"  ; kept when the user put files of their own in it
  Delete "$SMPROGRAMS\${APP}.lnk"
  !insertmacro FileTypes RemoveFileType
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

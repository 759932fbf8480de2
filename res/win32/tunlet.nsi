; Tunlet's setup program: a per-user install (no administrator prompt) into
; %LOCALAPPDATA%\Programs\Tunlet with a Start-menu shortcut, "Open with Tunlet" for
; NSF, NSFe, iNES and M3U files, an Apps & features entry and an uninstaller, and on
; request tunlet-cli on the user's PATH. Pages: welcome, licence, folder, components,
; install, finish (with "Run Tunlet"); the uninstaller asks for confirmation first.
; /S installs and uninstalls silently; /AddToPath picks the PATH component for a
; silent install; /D=FOLDER (last on the command line) picks the folder.
; Neither changes anything while Tunlet runs: interactively they ask for it to be
; closed; silently they close its windows and, if it still runs, exit with 2. Nor
; when the user's PATH is too long to change (NSIS strings end at 1,024 characters)
; and the run would have to change it: a box says so, or a silent run exits with 2,
; the PATH and the record of its entry kept. A folder with ';' in it is refused (it
; would be two PATH entries).
; scripts/build-windows runs it:
;   makensis -DVERSION=1.0.0.1 -DSTAGE=folder-with-the-files -DOUTFILE=setup.exe \
;     -DRUNNING_MUTEX=name tunlet.nsi
Unicode true
Target amd64-unicode
ManifestDPIAware true
BrandingText "Tunlet ${VERSION}"
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!ifndef RUNNING_MUTEX
  !error "RUNNING_MUTEX: the name of the mutex a running Tunlet holds (res/RunningMark.h)"
!endif
!define APP "Tunlet"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define CLASSES "Software\Classes"
; Exit code of a silent run that Tunlet kept from changing anything (NSIS's "aborted").
!define EXIT_IN_USE 2

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "FileDescription" "${APP} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "The Tunlet developers"
VIAddVersionKey "LegalCopyright" "2026 The Tunlet developers"

!define MUI_ICON "tunlet.ico"
!define MUI_UNICON "tunlet.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE ComponentsLeave
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_PRE AskToCloseTunlet
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\tunlet.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Run Tunlet"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_PAGE_CUSTOMFUNCTION_PRE un.AskToCloseTunlet
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

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
; A file that stays (in use after all) ends the uninstall at once, with the entry in
; Apps & features and the uninstaller kept, so that it can be run again.
!macro RemoveFile NAME
  Delete "$INSTDIR\${NAME}"
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    SetErrorLevel ${EXIT_IN_USE}
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR\${NAME} could not be removed: it is in use.$\r$\nClose Tunlet and uninstall again." /SD IDOK
    Abort "$INSTDIR\${NAME} could not be removed"
  ${EndIf}
!macroend

; The file types: extension, ProgID, description. "Open with" offers Tunlet for each
; without taking the user's default program away.
!macro FileTypes DO
  !insertmacro ${DO} ".nsf" "Tunlet.nsf" "NSF tune"
  !insertmacro ${DO} ".nsfe" "Tunlet.nsfe" "NSFe tune"
  !insertmacro ${DO} ".nes" "Tunlet.nes" "iNES ROM"
  !insertmacro ${DO} ".m3u" "Tunlet.m3u" "M3U playlist"
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

; ---------------------------------------------------------------------------
; A running Tunlet. Each tunlet.exe and tunlet-cli.exe holds the named mutex
; RUNNING_MUTEX while it runs.
Var running    ; 1 while a Tunlet process holds the mark
Var hwnd
Var process
Var image
Var size
Var round

!macro RunningFunctions UN
Function ${UN}CheckRunning
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MUTEX}") p.s'
  Pop $running
  ${If} $running == 0
    StrCpy $running 0
  ${Else}
    System::Call 'kernel32::CloseHandle(p $running)'
    StrCpy $running 1
  ${EndIf}
FunctionEnd

; Asks each visible main window of a tunlet.exe to close, as its close box would.
Function ${UN}CloseTunletWindows
  StrCpy $hwnd 0
  ${Do}
    System::Call 'user32::FindWindowExW(p 0, p $hwnd, p 0, p 0) p.s'
    Pop $hwnd
    ${IfThen} $hwnd == 0 ${|} ${ExitDo} ${|}
    System::Call 'user32::IsWindowVisible(p $hwnd) i.s'
    Pop $0
    System::Call 'user32::GetWindow(p $hwnd, i 4) p.s'  ; GW_OWNER
    Pop $1
    ${If} $0 <> 0
    ${AndIf} $1 == 0
      System::Call 'user32::GetWindowThreadProcessId(p $hwnd, *i .r2)'
      ; PROCESS_QUERY_LIMITED_INFORMATION
      System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r2) p.s'
      Pop $process
      ${If} $process != 0
        StrCpy $size ${NSIS_MAX_STRLEN}
        System::Call 'kernel32::QueryFullProcessImageNameW(p $process, i 0, w .s, *i $size)'
        Pop $image
        System::Call 'kernel32::CloseHandle(p $process)'
        ${GetFileName} "$image" $image
        ${If} $image == "tunlet.exe"
          System::Call 'user32::PostMessageW(p $hwnd, i ${WM_CLOSE}, p 0, p 0)'
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${Loop}
FunctionEnd

; Silent runs: Tunlet's windows are closed and given 10 seconds to end; a Tunlet that
; stays (a tunlet-cli.exe at work, a window that does not close) ends this run before
; it has changed anything.
Function ${UN}CloseTunletOrQuit
  StrCpy $round 0
  ${Do}
    Call ${UN}CheckRunning
    ${IfThen} $running == 0 ${|} ${ExitDo} ${|}
    ${If} $round >= 40
      SetErrorLevel ${EXIT_IN_USE}
      Quit
    ${EndIf}
    IntOp $0 $round % 4
    ${IfThen} $0 == 0 ${|} Call ${UN}CloseTunletWindows ${|}
    Sleep 250
    IntOp $round $round + 1
  ${Loop}
  ; A program that holds the files without the mark (a Tunlet older than the mark)
  ; ends the run too.
  Call ${UN}WaitForFiles
  ${If} $0 == 1
    SetErrorLevel ${EXIT_IN_USE}
    Quit
  ${EndIf}
FunctionEnd

; Interactive runs: the user closes Tunlet, or cancels before anything changed.
; Files held without the mark count as a running Tunlet.
Function ${UN}AskToCloseTunlet
  ${Do}
    Call ${UN}CheckRunning
    ${If} $running == 0
      Call ${UN}WaitForFiles
      ${IfThen} $0 == 0 ${|} ${ExitDo} ${|}
    ${EndIf}
    ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Tunlet is running.$\r$\nClose every Tunlet window and tunlet-cli, then press Retry." IDRETRY`
      SetErrorLevel 1
      Quit
    ${EndIf}
  ${Loop}
FunctionEnd

; A program that has just let go of the mark may hold its file for a moment longer
; while it ends: wait (at most 5 seconds) until the programs' files can be written.
; $0: 0 when they can, 1 when they are still in use.
Function ${UN}WaitForFiles
  StrCpy $round 0
  ${Do}
    StrCpy $0 0
    ${If} ${FileExists} "$INSTDIR\tunlet.exe"
      ClearErrors
      FileOpen $1 "$INSTDIR\tunlet.exe" a
      ${If} ${Errors}
        StrCpy $0 1
      ${Else}
        FileClose $1
      ${EndIf}
    ${EndIf}
    ${If} ${FileExists} "$INSTDIR\tunlet-cli.exe"
      ClearErrors
      FileOpen $1 "$INSTDIR\tunlet-cli.exe" a
      ${If} ${Errors}
        StrCpy $0 1
      ${Else}
        FileClose $1
      ${EndIf}
    ${EndIf}
    ${If} $0 == 0
    ${OrIf} $round >= 20
      ${ExitDo}
    ${EndIf}
    Sleep 250
    IntOp $round $round + 1
  ${Loop}
FunctionEnd
!macroend
!insertmacro RunningFunctions ""
!insertmacro RunningFunctions "un."

; ---------------------------------------------------------------------------
; The install folder on the user's PATH (HKCU\Environment). The entry added is
; recorded in the Apps & features entry as PathEntry; the uninstaller removes that
; one entry and keeps every other character of PATH as it was; so does a new install
; into another folder, or without the component. A PATH too long to read whole is
; never written.
Var path       ; the user's PATH
Var pathType   ; 1 REG_SZ, 2 REG_EXPAND_SZ, 0 none
Var pathOk     ; 1 when $path holds all of it
Var pathPlan   ; 1 when the PATH change this run makes can be made
!define PATH_TOO_LONG "Your PATH (HKEY_CURRENT_USER\Environment) is too long for Tunlet's setup program to change safely: it can hold 999 characters at most."

!macro PathFunctions UN
Function ${UN}ReadUserPath
  StrCpy $path ""
  StrCpy $pathType 0
  StrCpy $pathOk 1
  ; HKEY_CURRENT_USER; RRF_RT_ANY | RRF_NOEXPAND: the type and size of the value as stored.
  System::Call 'advapi32::RegGetValueW(p -2147483647, w "Environment", w "Path", i 0x1000ffff, *i .r0, p 0, *i 0 r1) i.r2'
  ${If} $2 == 2  ; ERROR_FILE_NOT_FOUND: no PATH of the user's yet
    Return
  ${EndIf}
  ${If} $2 <> 0
  ${OrIf} $1 >= 2000  ; bytes, NUL included: 1000 characters at most
    StrCpy $pathOk 0
    Return
  ${EndIf}
  ${If} $0 <> 1
  ${AndIf} $0 <> 2
    StrCpy $pathOk 0
    Return
  ${EndIf}
  StrCpy $pathType $0
  ReadRegStr $path HKCU "Environment" "Path"
FunctionEnd

Function ${UN}WriteUserPath
  ${If} $path == ""
    DeleteRegValue HKCU "Environment" "Path"
  ${ElseIf} $pathType == 1
    WriteRegStr HKCU "Environment" "Path" $path
  ${Else}
    WriteRegExpandStr HKCU "Environment" "Path" $path
  ${EndIf}
  ; Explorer, and programs started from it afterwards, read the environment again.
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
FunctionEnd
!macroend
!insertmacro PathFunctions ""
!insertmacro PathFunctions "un."

; Finds the PATH entry equal to ENTRY (CMP: == for any case, S== for exactly): its
; start in $4 and its end in $3, or -1 in $4 when there is none.
!macro FindPathEntry CMP ENTRY
  StrCpy $3 0  ; character index
  StrCpy $4 0  ; where the current entry starts
  ${Do}
    StrCpy $5 $path 1 $3
    ${If} $5 == ";"
    ${OrIf} $5 == ""
      IntOp $6 $3 - $4
      StrCpy $7 $path $6 $4
      ${If} $6 == 0
        StrCpy $7 ""
      ${EndIf}
      ${If} $7 ${CMP} "${ENTRY}"
        StrCpy $5 "found"
        ${ExitDo}
      ${EndIf}
      ${IfThen} $5 == "" ${|} ${ExitDo} ${|}
      IntOp $4 $3 + 1
    ${EndIf}
    IntOp $3 $3 + 1
  ${Loop}
  ${If} $5 != "found"
    StrCpy $4 -1
  ${EndIf}
!macroend

; Drops the PATH entry ENTRY (as recorded, same case) from $path with one separator:
; the one before it, or for the first entry the one after it.
!macro DropPathEntry ENTRY
  !insertmacro FindPathEntry S== "${ENTRY}"
  ${If} $4 == 0
    IntOp $3 $3 + 1
    StrCpy $path $path "" $3
  ${ElseIf} $4 > 0
    IntOp $4 $4 - 1
    StrCpy $0 $path "" $3
    ${If} $4 == 0
      StrCpy $path $0
    ${Else}
      StrCpy $path $path $4
      StrCpy $path "$path$0"
    ${EndIf}
  ${EndIf}
!macroend

!macro RemoveFromPathFunction UN
; Removes the entry recorded as PathEntry, if it is still there, and the record.
Function ${UN}RemoveFromPath
  ReadRegStr $8 HKCU "${UNINSTALL_KEY}" "PathEntry"
  ${IfThen} $8 == "" ${|} Return ${|}
  Call ${UN}ReadUserPath
  ${If} $pathOk != 1
    DetailPrint "PATH left as it was: it is too long to change safely"
    Return
  ${EndIf}
  StrCpy $9 $path
  !insertmacro DropPathEntry "$8"
  ${IfThen} $path S!= $9 ${|} Call ${UN}WriteUserPath ${|}
  DeleteRegValue HKCU "${UNINSTALL_KEY}" "PathEntry"
FunctionEnd
!macroend
!insertmacro RemoveFromPathFunction ""
!insertmacro RemoveFromPathFunction "un."

; $0: 1 when the folder FOLDER has a ';' in it.
!macro HasSemicolon FOLDER
  StrCpy $0 0
  StrCpy $1 0
  ${Do}
    StrCpy $2 "${FOLDER}" 1 $1
    ${IfThen} $2 == "" ${|} ${ExitDo} ${|}
    ${If} $2 == ";"
      StrCpy $0 1
      ${ExitDo}
    ${EndIf}
    IntOp $1 $1 + 1
  ${Loop}
!macroend

Function .onVerifyInstDir
  !insertmacro HasSemicolon "$INSTDIR"
  ${IfThen} $0 == 1 ${|} Abort ${|}
FunctionEnd

; Adds the install folder; an entry an earlier install into another folder added goes.
Function AddToPath
  ReadRegStr $8 HKCU "${UNINSTALL_KEY}" "PathEntry"
  ${If} $8 != ""
  ${AndIf} $8 != "$INSTDIR"
    Call RemoveFromPath
  ${EndIf}
  Call ReadUserPath
  ${If} $pathOk != 1
    DetailPrint "PATH left as it was: it is too long to change safely"
    Return
  ${EndIf}
  !insertmacro FindPathEntry == "$INSTDIR"
  ${If} $4 >= 0
    Return  ; there already: the user's own, or from an earlier install
  ${EndIf}
  ${If} $path == ""
    StrCpy $path "$INSTDIR"
  ${Else}
    StrCpy $0 $path 1 -1
    ${If} $0 == ";"
      StrCpy $path "$path$INSTDIR"
    ${Else}
      StrCpy $path "$path;$INSTDIR"
    ${EndIf}
  ${EndIf}
  StrLen $0 $path
  ${If} $0 >= 1000
    DetailPrint "PATH left as it was: it would grow too long"
    Return
  ${EndIf}
  ${If} $pathType == 0
    StrCpy $pathType 2
  ${EndIf}
  Call WriteUserPath
  WriteRegStr HKCU "${UNINSTALL_KEY}" "PathEntry" "$INSTDIR"
FunctionEnd

; ---------------------------------------------------------------------------
Section "Tunlet" SecProgram
  SectionIn RO
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

Section /o "Add tunlet-cli to PATH (for this user)" SecPath
  Call AddToPath
SectionEnd
; Unticked on an install over one that added the PATH entry: the entry goes.
Section "-"
  ${IfNot} ${SectionIsSelected} ${SecPath}
    Call RemoveFromPath
  ${EndIf}
SectionEnd

; Before anything changes: whether the PATH edit this install makes (adding the
; folder, moving or dropping the entry an earlier install added) can be made.
Function CheckPathPlan
  StrCpy $pathPlan 1
  ReadRegStr $8 HKCU "${UNINSTALL_KEY}" "PathEntry"
  ${IfNot} ${SectionIsSelected} ${SecPath}
  ${AndIf} $8 == ""
    Return
  ${EndIf}
  Call ReadUserPath
  ${If} $pathOk != 1
    StrCpy $pathPlan 0
    Return
  ${EndIf}
  ${IfNotThen} ${SectionIsSelected} ${SecPath} ${|} Return ${|}
  ${If} $8 != ""
  ${AndIf} $8 != "$INSTDIR"
    !insertmacro DropPathEntry "$8"
  ${EndIf}
  !insertmacro FindPathEntry == "$INSTDIR"
  ${IfThen} $4 >= 0 ${|} Return ${|}
  StrLen $0 $path
  StrLen $1 $INSTDIR
  IntOp $0 $0 + $1
  ${IfThen} $0 >= 999 ${|} StrCpy $pathPlan 0 ${|}
FunctionEnd

Function ComponentsLeave
  Call CheckPathPlan
  ${If} $pathPlan != 1
    ${If} $8 == ""
      MessageBox MB_OK|MB_ICONSTOP "${PATH_TOO_LONG}$\r$\nShorten it, or untick $\"Add tunlet-cli to PATH$\", and press Next again."
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP "${PATH_TOO_LONG}$\r$\nAn earlier install added $8 to it: shorten it and press Next again."
    ${EndIf}
    Abort
  ${EndIf}
FunctionEnd

Function .onInit
  SetShellVarContext current
  ; The PATH entry stays chosen on a new install over one that made it.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "PathEntry"
  ClearErrors
  ${GetOptions} $CMDLINE "/AddToPath" $1
  ${IfNot} ${Errors}
  ${OrIf} $0 != ""
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
  ${If} ${Silent}
    ; The folder of /D= is not checked by the folder page.
    !insertmacro HasSemicolon "$INSTDIR"
    ${If} $0 == 1
      SetErrorLevel ${EXIT_IN_USE}
      Quit
    ${EndIf}
    Call CheckPathPlan
    ${If} $pathPlan != 1
      SetErrorLevel ${EXIT_IN_USE}
      Quit
    ${EndIf}
    Call CloseTunletOrQuit
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext current
  ; The entry an install added must go with the rest: a PATH too long to change ends
  ; the uninstall before anything went.
  ReadRegStr $8 HKCU "${UNINSTALL_KEY}" "PathEntry"
  ${If} $8 != ""
    Call un.ReadUserPath
    ${If} $pathOk != 1
      SetErrorLevel ${EXIT_IN_USE}
      MessageBox MB_OK|MB_ICONSTOP "${PATH_TOO_LONG}$\r$\nShorten it and uninstall again: nothing was removed." /SD IDOK
      Quit
    ${EndIf}
  ${EndIf}
  ${If} ${Silent}
    Call un.CloseTunletOrQuit
  ${EndIf}
FunctionEnd

; Tunlet's settings (HKCU\Software\Tunlet) are the user's and stay.
Section "Uninstall"
  SetShellVarContext current
  !insertmacro Files RemoveFile
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"  ; kept when the user put files of their own in it
  Delete "$SMPROGRAMS\${APP}.lnk"
  !insertmacro FileTypes RemoveFileType
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
  Call un.RemoveFromPath
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

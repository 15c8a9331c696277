; Vorlund-Setup-<version>.exe: puts VorlundApo.dll, vorlund-ctl.exe, the presets and the README
; into Program Files\Vorlund, registers the DLL, sets up the data folder with its access rules
; (vorlund-ctl setup), offers to attach the effect to the default microphone, and writes an
; Add/Remove Programs entry, a Start-menu folder, and puts the install folder on the system
; PATH. The uninstaller detaches the effect from every microphone,
; unregisters the DLL, removes the files it made and, unless asked to keep it, the data folder.
; The data folder is set up before anything is installed: one that is a link or holds links
; ends the install with the reason. Nothing is ever deleted recursively, and nothing through a
; link: each known file goes only when it is a plain file, each folder only when empty.
;
; Built by the MinGW build ('installer' target):
;   makensis -DVERSION=x.y.z -DAPO=... -DCTL=... -DSOURCE=<repository> -DPRESETS=<list.nsh>
;            -DOUTFILE=... vorlund.nsi
; PRESETS holds one '!insertmacro ${PRESET} "name.vrl"' line per shipped preset.
; Silent use: Vorlund-Setup-x.y.z.exe /S [/ATTACH=default|all|DEVICE[,DEVICE...]] [/RESTARTAUDIO]
;             (DEVICE: a number from 'vorlund-ctl devices' or an endpoint id)
;             uninstall.exe /S [/KEEPDATA]

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include x64.nsh
!include WordFunc.nsh
!include TextFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorlund"
; A custom install folder: owned by Administrators, written only by them and SYSTEM, so nobody
; can replace what the uninstaller later runs as administrator.
!define INSTALL_FOLDER_SDDL "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
; FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT
!define DIRECTORY_OR_LINK 0x410

Name "Vorlund ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vorlund"
BrandingText "Vorlund ${VERSION}"

Var Attach        ; the devices to attach to (DEVICE[,DEVICE...], default or all), empty for none
Var Detach        ; the devices the Microphones page unticked, empty for none
Var Dialog
Var KeepData      ; 1: the uninstaller leaves the data folder
Var KeepDataBox
Var RestartAudio  ; "--restart-audio" to apply an attach at once, else empty
Var RestartBox

!insertmacro MUI_PAGE_DIRECTORY
Page custom AttachPage AttachPageLeave
!insertmacro MUI_PAGE_INSTFILES
; The tray starts as the signed-in user, not elevated like the installer: through Explorer.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start the tray icon"
!define MUI_FINISHPAGE_RUN_FUNCTION StartTray
; And to open the control panel, through its Start-menu shortcut so that it runs as the user.
!define MUI_FINISHPAGE_SHOWREADME ""
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Open the control panel"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION OpenPanel
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.KeepDataPage un.KeepDataPageLeave
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP|MB_OK "Vorlund needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ; Interactive installs offer the default microphone; silent ones attach only when asked.
  StrCpy $Attach "default"
  ${If} ${Silent}
    StrCpy $Attach ""
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ATTACH=" $R1
  ${IfNot} ${Errors}
    StrCpy $Attach $R1
  ${EndIf}
  StrCpy $RestartAudio ""
  ClearErrors
  ${GetOptions} $R0 "/RESTARTAUDIO" $R1
  ${IfNot} ${Errors}
    StrCpy $RestartAudio "--restart-audio"
  ${EndIf}
FunctionEnd

; The "Microphones" page: every capture device with a check box, ticked where Vorlund is on,
; and the default microphone ticked on a first install. Leaving it sets $Attach to the ticked
; devices that do not carry Vorlund yet and $Detach to the unticked ones that do. Each box keeps
; "1" or "0" (attached when the page opened) and the endpoint id as its user data.
!define MAX_DEVICE_ROWS 6  ; rows from 28u, 12u each, end above the restart box at 116u
Function AttachPage
  !insertmacro MUI_HEADER_TEXT "Microphones" "Choose the microphones Vorlund processes"
  nsDialogs::Create 1018
  Pop $Dialog
  ; Before the install the list comes from the vorlund-ctl about to be installed.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=vorlund-ctl.exe" "${CTL}"
  nsExec::ExecToStack '"$PLUGINSDIR\vorlund-ctl.exe" devices --lines'
  Pop $0
  Pop $1
  ${If} $0 != 0
    StrCpy $1 ""
  ${EndIf}
  ; UTF-16 after a byte-order mark, so that every name arrives whole; the mark is not a name.
  StrCpy $2 $1 1
  ${If} $2 == "${U+FEFF}"
    StrCpy $1 $1 "" 1
  ${EndIf}
  ; A line cut short by the length limit of the output has no line break: it is left out.
  StrCpy $2 $1 1 -1
  ${WordFind} "$1" "$\n" "E#" $3
  ${If} ${Errors}
    StrCpy $3 0
  ${ElseIf} $2 != "$\n"
    IntOp $3 $3 - 1
  ${EndIf}
  ReadRegStr $4 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${NSD_CreateLabel} 0 0 100% 24u "Vorlund processes the microphones ticked here; untick one to take Vorlund off it. 'vorlund-ctl attach' and 'detach' change this later. The effect starts when the microphone's streams restart."
  Pop $0
  StrCpy $5 0      ; rows made
  StrCpy $6 28     ; top of the next row, in dialog units
  ${ForEach} $7 1 $3 + 1
    ${WordFind} "$1" "$\n" "E+$7" $8
    ${IfNot} ${Errors}
      ${TrimNewLines} "$8" $8
      ${WordFind} "$8" "$\t" "E+3" $9   ; the endpoint id
      ${WordFind} "$8" "$\t" "+3}" $R1  ; the name, after it
      ${IfNot} ${Errors}
      ${AndIf} $5 < ${MAX_DEVICE_ROWS}
        StrCpy $R2 $8 1      ; attached
        StrCpy $R3 $8 1 2    ; the default microphone
        ${NSD_CreateCheckbox} 0 "$6u" 100% 12u "$R1"
        Pop $R4
        nsDialogs::SetUserData $R4 "$R2$9"
        ; LogicLib joins conditions left to right: "default on a first install" comes first.
        ${If} $4 == ""
        ${AndIf} $R3 == "1"
        ${OrIf} $R2 == "1"
          ${NSD_Check} $R4
        ${EndIf}
        IntOp $5 $5 + 1
        IntOp $6 $6 + 12
      ${EndIf}
    ${EndIf}
  ${Next}
  ${If} $5 == 0
    ${NSD_CreateLabel} 0 28u 100% 24u "No microphone is listed. Attach Vorlund later with 'vorlund-ctl devices' and 'vorlund-ctl attach' from an administrator prompt."
    Pop $0
  ${ElseIf} $5 < $3
    ${NSD_CreateLabel} 0 "$6u" 100% 12u "More microphones: see 'vorlund-ctl devices' after the install."
    Pop $0
  ${EndIf}
  ${NSD_CreateCheckbox} 0 116u 100% 24u "&Restart the audio service now, so the effect starts at once (recordings in progress restart)"
  Pop $RestartBox
  ${If} $RestartAudio != ""
    ${NSD_Check} $RestartBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function AttachPageLeave
  StrCpy $Attach ""
  StrCpy $Detach ""
  StrCpy $R0 0
  ${Do}
    FindWindow $R0 "Button" "" $Dialog $R0
    ${If} $R0 = 0
      ${Break}
    ${EndIf}
    nsDialogs::GetUserData $R0
    Pop $R1
    ${If} $R1 != ""
      StrCpy $R2 $R1 1
      StrCpy $R1 $R1 "" 1
      ${NSD_GetState} $R0 $R3
      ${If} $R3 == ${BST_CHECKED}
      ${AndIf} $R2 == "0"
        StrCpy $Attach "$Attach$R1,"
      ${ElseIf} $R3 != ${BST_CHECKED}
      ${AndIf} $R2 == "1"
        StrCpy $Detach "$Detach$R1,"
      ${EndIf}
    ${EndIf}
  ${Loop}
  ${NSD_GetState} $RestartBox $R0
  ${If} $R0 == ${BST_CHECKED}
    StrCpy $RestartAudio "--restart-audio"
  ${Else}
    StrCpy $RestartAudio ""
  ${EndIf}
FunctionEnd

; $0: 1 when PATH is a folder and no link, else 0.
!macro IsPlainFolder PATH
  System::Call 'kernel32::GetFileAttributesW(w "${PATH}") i .r0'
  IntOp $1 $0 & ${DIRECTORY_OR_LINK}
  ${If} $0 <> -1
  ${AndIf} $1 = 0x10
    StrCpy $0 1
  ${Else}
    StrCpy $0 0
  ${EndIf}
!macroend

; Deletes PATH only when it is a plain file: no folder, no link of any kind.
!macro DeletePlainFile PATH
  System::Call 'kernel32::GetFileAttributesW(w "${PATH}") i .r0'
  IntOp $1 $0 & ${DIRECTORY_OR_LINK}
  ${If} $0 <> -1
  ${AndIf} $1 = 0
    Delete "${PATH}"
  ${EndIf}
!macroend

!macro InstallPreset NAME
  File "${SOURCE}\presets\${NAME}"
!macroend
!macro RemovePreset NAME
  !insertmacro DeletePlainFile "$INSTDIR\presets\${NAME}"
!macroend

; Stops the install with the reason, before anything is installed.
!macro Refuse CODE MESSAGE
  MessageBox MB_ICONSTOP|MB_OK "${MESSAGE}" /SD IDOK
  DetailPrint "${MESSAGE}"
  SetErrorLevel ${CODE}
  Abort
!macroend

; Ends every vorlund-tray before its file is replaced or deleted: the user's own by closing
; its window (as Exit in its menu does), those of other signed-in users by taskkill.
!macro StopTray
  StrCpy $1 0
  ${Do}
    FindWindow $0 "VorlundTray"
    ${If} $0 = 0
    ${OrIf} $1 >= 10
      ${Break}
    ${EndIf}
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    IntOp $1 $1 + 1
  ${Loop}
  nsExec::Exec '"$SYSDIR\taskkill.exe" /f /im vorlund-tray.exe'
  Pop $0
  Sleep 500
!macroend

Function StartTray
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\vorlund-tray.exe"'
FunctionEnd

Function OpenPanel
  Exec '"$WINDIR\explorer.exe" "$SMPROGRAMS\Vorlund\Vorlund control panel.lnk"'
FunctionEnd

Section "Vorlund"
  SetRegView 64
  SetShellVarContext all
  ; The data folder first, by the vorlund-ctl about to be installed: a folder the effect must
  ; not use stops the install here, with nothing installed yet.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=vorlund-ctl.exe" "${CTL}"
  nsExec::ExecToStack '"$PLUGINSDIR\vorlund-ctl.exe" setup'
  Pop $0
  Pop $1
  DetailPrint $1
  ${If} $0 != 0
    !insertmacro Refuse 4 "The data folder cannot be set up (vorlund-ctl setup: exit code $0):$\r$\n$1"
  ${EndIf}

  ${If} ${FileExists} "$INSTDIR\*.*"
    !insertmacro IsPlainFolder "$INSTDIR"
    ${If} $0 != 1
      !insertmacro Refuse 4 "$INSTDIR is a link (junction or symbolic link) or a file; choose another folder."
    ${EndIf}
  ${EndIf}
  CreateDirectory "$INSTDIR"
  ${If} "$INSTDIR" != "$PROGRAMFILES64\Vorlund"
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${INSTALL_FOLDER_SDDL}", i 1, *p .r1, p 0) i .r0'
    ${If} $0 != 0
      ; OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
      System::Call 'advapi32::SetFileSecurityW(w "$INSTDIR", i 0x80000005, p r1) i .r0'
      System::Call 'kernel32::LocalFree(p r1)'
    ${EndIf}
    ${If} $0 == 0
      !insertmacro Refuse 4 "The access rules of $INSTDIR could not be set; choose another folder."
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\presets\*.*"
    !insertmacro IsPlainFolder "$INSTDIR\presets"
    ${If} $0 != 1
      !insertmacro Refuse 4 "$INSTDIR\presets is a link (junction or symbolic link); remove it first."
    ${EndIf}
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "/oname=VorlundApo.dll" "${APO}"
  File "/oname=vorlund-ctl.exe" "${CTL}"
  !insertmacro StopTray
  File "/oname=vorlund-tray.exe" "${TRAY}"
  File "/oname=README.md" "${SOURCE}\README.md"
  SetOutPath "$INSTDIR\presets"
  !define PRESET InstallPreset
  !include "${PRESETS}"
  !undef PRESET
  SetOutPath "$INSTDIR"

  ; This installer is a 64-bit program: $SYSDIR is the 64-bit System32, its regsvr32 the
  ; 64-bit one, and the registration lands in the 64-bit view, where the audio engine looks.
  ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\VorlundApo.dll"' $0
  ReadRegStr $1 HKLM "Software\Classes\CLSID\{6A3D2F10-4C8E-4B7A-9E21-5F0C8B7D3A64}\InprocServer32" ""
  ${If} $0 != 0
  ${OrIf} $1 != "$INSTDIR\VorlundApo.dll"
    MessageBox MB_ICONSTOP|MB_OK "Registering VorlundApo.dll failed (regsvr32: exit code $0; registered: '$1')." /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vorlund"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Vorlund"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  CreateDirectory "$SMPROGRAMS\Vorlund"
  CreateShortcut "$SMPROGRAMS\Vorlund\Vorlund control panel.lnk" "$INSTDIR\vorlund-ctl.exe" "panel"
  CreateShortcut "$SMPROGRAMS\Vorlund\Uninstall Vorlund.lnk" "$INSTDIR\uninstall.exe"
  ; On PATH, so 'vorlund-ctl' works by name in new prompts. The uninstaller takes the entry
  ; out only when this install put it there.
  nsExec::ExecToStack '"$INSTDIR\vorlund-ctl.exe" path add'
  Pop $0
  Pop $1
  DetailPrint $1
  StrCpy $2 $1 5
  ${If} $0 == 0
  ${AndIf} $2 == "added"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
  ${ElseIf} $0 != 0
    MessageBox MB_ICONEXCLAMATION|MB_OK "The install folder could not be added to PATH (vorlund-ctl path add: exit code $0); run vorlund-ctl by its full path." /SD IDOK
  ${EndIf}

  ${If} $Detach != ""
    nsExec::ExecToLog '"$INSTDIR\vorlund-ctl.exe" detach $Detach'
    Pop $0
    ${If} $0 != 0
      MessageBox MB_ICONEXCLAMATION|MB_OK "Vorlund could not be taken off every unticked microphone (vorlund-ctl detach: exit code $0); see 'vorlund-ctl devices'." /SD IDOK
    ${EndIf}
  ${EndIf}
  ${If} $Attach != ""
    nsExec::ExecToLog '"$INSTDIR\vorlund-ctl.exe" attach $Attach $RestartAudio'
    Pop $0
    ${If} $0 != 0
      MessageBox MB_ICONEXCLAMATION|MB_OK "Vorlund could not be attached to the microphone (vorlund-ctl attach: exit code $0). Run 'vorlund-ctl devices' and 'vorlund-ctl attach' from an administrator prompt; the README explains the exit codes." /SD IDOK
    ${EndIf}
  ${EndIf}
SectionEnd

Function un.onInit
  SetRegView 64
  StrCpy $KeepData "0"
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/KEEPDATA" $R1
  ${IfNot} ${Errors}
    StrCpy $KeepData "1"
  ${EndIf}
FunctionEnd

Function un.KeepDataPage
  !insertmacro MUI_HEADER_TEXT "Settings" "Keep the settings and the log?"
  nsDialogs::Create 1018
  Pop $R0
  ${NSD_CreateCheckbox} 0 0 100% 12u "&Keep the data folder (settings, meters and log in ProgramData\Vorlund)"
  Pop $KeepDataBox
  ${If} $KeepData == "1"
    ${NSD_Check} $KeepDataBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.KeepDataPageLeave
  ${NSD_GetState} $KeepDataBox $R0
  ${If} $R0 == ${BST_CHECKED}
    StrCpy $KeepData "1"
  ${Else}
    StrCpy $KeepData "0"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  !insertmacro StopTray
  ; Detaching first: the effect leaves every microphone before its DLL goes.
  nsExec::ExecToLog '"$INSTDIR\vorlund-ctl.exe" detach --all'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_ICONEXCLAMATION|MB_OK "Vorlund could not be detached from every microphone (vorlund-ctl detach --all: exit code $0); see the README." /SD IDOK
  ${EndIf}
  ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\VorlundApo.dll"'
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    nsExec::ExecToLog '"$INSTDIR\vorlund-ctl.exe" path remove'
    Pop $0
  ${EndIf}
  !insertmacro DeletePlainFile "$SMPROGRAMS\Vorlund\Vorlund control panel.lnk"
  !insertmacro DeletePlainFile "$SMPROGRAMS\Vorlund\Uninstall Vorlund.lnk"
  RMDir "$SMPROGRAMS\Vorlund"

  ; What was made, file by file; a folder goes only when that left it empty.
  !insertmacro IsPlainFolder "$INSTDIR"
  ${If} $0 == 1
    !insertmacro DeletePlainFile "$INSTDIR\VorlundApo.dll"
    !insertmacro DeletePlainFile "$INSTDIR\vorlund-ctl.exe"
    !insertmacro DeletePlainFile "$INSTDIR\vorlund-tray.exe"
    !insertmacro DeletePlainFile "$INSTDIR\README.md"
    !insertmacro IsPlainFolder "$INSTDIR\presets"
    ${If} $0 == 1
      !define PRESET RemovePreset
      !include "${PRESETS}"
      !undef PRESET
      RMDir "$INSTDIR\presets"
    ${EndIf}
    !insertmacro DeletePlainFile "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
  ${EndIf}
  DeleteRegValue HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "Vorlund tray"
  DeleteRegKey HKCU "Software\Vorlund\Tray"
  DeleteRegKey /ifempty HKCU "Software\Vorlund"
  ; $APPDATA is ProgramData here (all users).
  !insertmacro IsPlainFolder "$APPDATA\Vorlund"
  ${If} $KeepData != "1"
  ${AndIf} $0 == 1
    !insertmacro DeletePlainFile "$APPDATA\Vorlund\shared.bin"
    !insertmacro DeletePlainFile "$APPDATA\Vorlund\params.bin"
    !insertmacro DeletePlainFile "$APPDATA\Vorlund\apo.log"
    !insertmacro DeletePlainFile "$APPDATA\Vorlund\apo.old.log"
    !insertmacro DeletePlainFile "$APPDATA\Vorlund\ctl.lock"
    RMDir "$APPDATA\Vorlund"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Presets are each person's own and stay where they are.
  DetailPrint "Your own presets stay in %APPDATA%\Vorlund\presets of each user who saved one; delete that folder to remove them."
  ${IfNot} ${Silent}
    MessageBox MB_ICONINFORMATION|MB_OK "Vorlund is removed. Your own presets stay in %APPDATA%\Vorlund\presets (for each user who saved one); delete that folder if you no longer want them."
  ${EndIf}
SectionEnd

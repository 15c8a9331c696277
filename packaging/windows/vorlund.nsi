; Vorlund-Setup-<version>.exe: puts VorlundApo.dll, vorlund-ctl.exe, the presets and the README
; into Program Files\Vorlund, registers the DLL, sets up the data folder with its access rules
; (vorlund-ctl setup), offers to attach the effect to the default microphone, and writes an
; Add/Remove Programs entry. The uninstaller detaches the effect from every microphone,
; unregisters the DLL, removes the files and, unless asked to keep it, the data folder.
;
; Built by the MinGW build ('installer' target):
;   makensis -DVERSION=x.y.z -DAPO=... -DCTL=... -DSOURCE=<repository> -DOUTFILE=... vorlund.nsi
; Silent use: Vorlund-Setup-x.y.z.exe /S [/ATTACH=default|NUMBER|ENDPOINT-ID]
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

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorlund"

Name "Vorlund ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vorlund"
BrandingText "Vorlund ${VERSION}"

Var Attach        ; the device to attach to, empty for none
Var AttachBox
Var KeepData      ; 1: the uninstaller leaves the data folder
Var KeepDataBox

!insertmacro MUI_PAGE_DIRECTORY
Page custom AttachPage AttachPageLeave
!insertmacro MUI_PAGE_INSTFILES
; The tray starts as the signed-in user, not elevated like the installer: through Explorer.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start the tray icon"
!define MUI_FINISHPAGE_RUN_FUNCTION StartTray
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
FunctionEnd

Function AttachPage
  !insertmacro MUI_HEADER_TEXT "Microphone" "Put Vorlund on your microphone"
  nsDialogs::Create 1018
  Pop $R0
  ${NSD_CreateLabel} 0 0 100% 48u "Vorlund processes a microphone once it is attached to it. It can be attached to the default microphone now, or later with 'vorlund-ctl attach' (see 'vorlund-ctl devices'). The effect starts when the microphone's streams restart."
  Pop $R0
  ${NSD_CreateCheckbox} 0 56u 100% 12u "&Attach Vorlund to the default microphone"
  Pop $AttachBox
  ${If} $Attach != ""
    ${NSD_Check} $AttachBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function AttachPageLeave
  ${NSD_GetState} $AttachBox $R0
  ${If} $R0 == ${BST_CHECKED}
    ${If} $Attach == ""
      StrCpy $Attach "default"
    ${EndIf}
  ${Else}
    StrCpy $Attach ""
  ${EndIf}
FunctionEnd

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

Section "Vorlund"
  SetRegView 64
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=VorlundApo.dll" "${APO}"
  File "/oname=vorlund-ctl.exe" "${CTL}"
  !insertmacro StopTray
  File "/oname=vorlund-tray.exe" "${TRAY}"
  File "/oname=README.md" "${SOURCE}\README.md"
  SetOutPath "$INSTDIR\presets"
  File "${SOURCE}\presets\*.vrl"
  SetOutPath "$INSTDIR"

  ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\VorlundApo.dll"' $0
  ${If} $0 != 0
    MessageBox MB_ICONSTOP|MB_OK "Registering VorlundApo.dll failed (exit code $0)." /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}

  nsExec::ExecToLog '"$INSTDIR\vorlund-ctl.exe" setup'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_ICONEXCLAMATION|MB_OK "Setting up the data folder failed (vorlund-ctl setup: exit code $0); run 'vorlund-ctl setup' as administrator later." /SD IDOK
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

  ${If} $Attach != ""
    nsExec::ExecToLog '"$INSTDIR\vorlund-ctl.exe" attach $Attach'
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

  Delete "$INSTDIR\VorlundApo.dll"
  Delete "$INSTDIR\vorlund-ctl.exe"
  Delete "$INSTDIR\vorlund-tray.exe"
  DeleteRegValue HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "Vorlund tray"
  DeleteRegKey HKCU "Software\Vorlund\Tray"
  DeleteRegKey /ifempty HKCU "Software\Vorlund"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\presets\*.vrl"
  RMDir "$INSTDIR\presets"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ${If} $KeepData != "1"
    RMDir /r "$APPDATA\Vorlund"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer: per machine into Program Files, a Start-menu entry,
; the update mode's driver (WinUSB for the STM32 bootloader, through
; tarvik-driver.exe; left out with /NODRIVER in a silent install), and an
; uninstaller that removes what it installed and leaves the owner's data
; folder (firmware copies, kept settings) and the driver where they are.
; makensis -DVERSION=0.8.0 -DDIST=dist -DFILES=files.nsh -DOUTFILE=setup.exe -DICON=app.ico tarvik-connect.nsi
; FILES lists what DIST holds, made by scripts/windows/build.sh from the
; folder itself: the uninstaller removes exactly what was installed.
; A 64-bit installer for a 64-bit program: it runs where the program runs.
Target amd64-unicode
!include "MUI2.nsh"
!include "FileFunc.nsh"

!define APP "Tarvik Connect"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TarvikConnect"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
InstallDirRegKey HKLM "Software\TarvikConnect" "InstallDir"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\tarvik-connect.exe"
!define MUI_UNCONFIRMPAGE_TEXT_TOP "O driver do modo de atualização (WinUSB para o STM32 BOOTLOADER) fica no Windows: outros programas podem usá-lo. Para tirá-lo, use o Gerenciador de Dispositivos."

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${DIST}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "PortugueseBR"

Section "Tarvik Connect" SecProgram
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${DIST}\*.*"
  WriteUninstaller "$INSTDIR\Desinstalar.exe"

  CreateDirectory "$SMPROGRAMS\${APP}"
  CreateShortcut "$SMPROGRAMS\${APP}\${APP}.lnk" "$INSTDIR\tarvik-connect.exe" "" "$INSTDIR\tarvik-connect.exe" 0
  CreateShortcut "$SMPROGRAMS\${APP}\Driver do modo de atualização.lnk" "$INSTDIR\Driver do modo de atualização.txt"
  CreateShortcut "$SMPROGRAMS\${APP}\Desinstalar ${APP}.lnk" "$INSTDIR\Desinstalar.exe"

  WriteRegStr HKLM "Software\TarvikConnect" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Brevanto"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarvik-connect.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Desinstalar.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Desinstalar.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The bootloader is usually not plugged in during the setup: Windows then
; keeps the driver in its store and binds it at the bootloader's first
; appearance. A failure is written to the log and the setup goes on: the
; program offers the same step again when it meets the bootloader. The
; driver installer bounds its own time; the timeout here is the last guard.
Section "Driver do modo de atualização (WinUSB para o bootloader STM32)" SecDriver
  DetailPrint "Instalando o driver do modo de atualização…"
  nsExec::ExecToLog /TIMEOUT=360000 '"$INSTDIR\tarvik-driver.exe" --install'
  Pop $0
  DetailPrint "tarvik-driver: $0"
  StrCmp $0 "0" +2
    DetailPrint "O driver não foi instalado agora; o Tarvik Connect oferece instalá-lo ao atualizar."
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "O programa, o tarvik-config e o tarvik-dfu."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDriver} "Para atualizar o firmware: o Windows passa a usar o WinUSB para o K931 no modo de atualização (STM32 BOOTLOADER, USB 0483:DF11)."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; A silent install with /NODRIVER leaves the driver out.
Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/NODRIVER" $R1
  IfErrors +2
    SectionSetFlags ${SecDriver} 0
FunctionEnd

; Only what the installer put there (the list made from the installed
; folder): the owner's files in %APPDATA% and the driver stay.
Section "Uninstall"
  SetShellVarContext all
  !include "${FILES}"
  Delete "$INSTDIR\Desinstalar.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APP}\${APP}.lnk"
  Delete "$SMPROGRAMS\${APP}\Driver do modo de atualização.lnk"
  Delete "$SMPROGRAMS\${APP}\Desinstalar ${APP}.lnk"
  RMDir "$SMPROGRAMS\${APP}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\TarvikConnect"
SectionEnd

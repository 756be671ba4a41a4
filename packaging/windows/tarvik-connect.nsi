; SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer: per machine into Program Files, a Start-menu entry,
; and an uninstaller that removes what it installed and leaves the owner's
; data folder (firmware copies, kept settings) where it is.
; makensis -DVERSION=0.8.0 -DDIST=dist -DOUTFILE=setup.exe -DICON=app.ico tarvik-connect.nsi
; A 64-bit installer for a 64-bit program: it runs where the program runs.
Target amd64-unicode
!include "MUI2.nsh"

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
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\Driver do modo de atualização.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Ler como instalar o driver do modo de atualização (uma vez)"
!define MUI_FINISHPAGE_RUN "$INSTDIR\tarvik-connect.exe"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${DIST}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "PortugueseBR"

Section "Tarvik Connect"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${DIST}\*.exe"
  File "${DIST}\*.dll"
  File "${DIST}\LICENSE.txt"
  File "${DIST}\Driver do modo de atualização.txt"
  SetOutPath "$INSTDIR\platforms"
  File "${DIST}\platforms\*.dll"
  SetOutPath "$INSTDIR\styles"
  File "${DIST}\styles\*.dll"
  SetOutPath "$INSTDIR\tls"
  File "${DIST}\tls\*.dll"
  SetOutPath "$INSTDIR"
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

; Only what the installer put there: the owner's files in %APPDATA% stay.
Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\tarvik-connect.exe"
  Delete "$INSTDIR\tarvik-config.exe"
  Delete "$INSTDIR\tarvik-dfu.exe"
  Delete "$INSTDIR\Qt6Core.dll"
  Delete "$INSTDIR\Qt6Gui.dll"
  Delete "$INSTDIR\Qt6Widgets.dll"
  Delete "$INSTDIR\Qt6Network.dll"
  Delete "$INSTDIR\Qt6SerialPort.dll"
  Delete "$INSTDIR\libusb-1.0.dll"
  Delete "$INSTDIR\libstdc++-6.dll"
  Delete "$INSTDIR\libgcc_s_seh-1.dll"
  Delete "$INSTDIR\libwinpthread-1.dll"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Driver do modo de atualização.txt"
  Delete "$INSTDIR\platforms\qwindows.dll"
  Delete "$INSTDIR\styles\qwindowsvistastyle.dll"
  Delete "$INSTDIR\tls\qschannelbackend.dll"
  RMDir "$INSTDIR\platforms"
  RMDir "$INSTDIR\styles"
  RMDir "$INSTDIR\tls"
  Delete "$INSTDIR\Desinstalar.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APP}\${APP}.lnk"
  Delete "$SMPROGRAMS\${APP}\Driver do modo de atualização.lnk"
  Delete "$SMPROGRAMS\${APP}\Desinstalar ${APP}.lnk"
  RMDir "$SMPROGRAMS\${APP}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\TarvikConnect"
SectionEnd

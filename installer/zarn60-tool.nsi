; The Windows installer of zarn60-tool: the program, a Start-menu entry and an uninstaller.
; scripts/windows-build.sh runs makensis with VERSION, EXE, ICON and OUTFILE defined.
; A 64-bit installer for the 64-bit program (and for 64-bit-only Wine).
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION is not defined"
!endif

Name "ZARN TOOLS ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\ZARN TOOLS"
InstallDirRegKey HKLM "Software\ZARN TOOLS" "InstallDir"
RequestExecutionLevel admin
Icon "${ICON}"
UninstallIcon "${ICON}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZARN TOOLS"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "ZARN TOOLS"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=zarn60-tool.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\ZARN TOOLS"
  CreateShortcut "$SMPROGRAMS\ZARN TOOLS\ZARN TOOLS.lnk" "$INSTDIR\zarn60-tool.exe"
  CreateShortcut "$SMPROGRAMS\ZARN TOOLS\Uninstall ZARN TOOLS.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\ZARN TOOLS" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "ZARN TOOLS ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zarn60-tool.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\ZARN TOOLS\ZARN TOOLS.lnk"
  Delete "$SMPROGRAMS\ZARN TOOLS\Uninstall ZARN TOOLS.lnk"
  RMDir "$SMPROGRAMS\ZARN TOOLS"
  Delete "$INSTDIR\zarn60-tool.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\ZARN TOOLS"
SectionEnd

; The Windows installer of zarn60-tool: the window program and the command line zarn60.exe,
; a Start-menu entry, an uninstaller and, when its component is chosen, the install folder on
; the system PATH (so that zarn60 runs from any console or script).
; scripts/windows-build.sh runs makensis with VERSION, EXE, CLI, ICON and OUTFILE defined.
; A 64-bit installer for the 64-bit program (and for 64-bit-only Wine).
Target amd64-unicode
SetCompressor /SOLID lzma
!include "FileFunc.nsh"
!include "Sections.nsh"
!include "WinMessages.nsh"

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

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!define ENV_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Section "ZARN TOOLS" SecProgram
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=zarn60-tool.exe" "${EXE}"
  File "/oname=zarn60.exe" "${CLI}"
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

; The folder goes at the end of the machine's PATH once; the uninstaller takes it out again
; only when this installer put it there (the "PathAdded" value).
Section /o "Add zarn60 to the PATH" SecPath
  ReadRegStr $0 HKLM "${ENV_KEY}" "Path"
  Push "$0"
  Push "$INSTDIR"
  Call PathHas
  Pop $1
  StrCmp $1 "1" path_done
  StrCmp $0 "" 0 +3
    StrCpy $0 "$INSTDIR"
    Goto +2
  StrCpy $0 "$0;$INSTDIR"
  WriteRegExpandStr HKLM "${ENV_KEY}" "Path" "$0"
  WriteRegDWORD HKLM "Software\ZARN TOOLS" "PathAdded" 1
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  path_done:
SectionEnd

; PathHas(PATH, FOLDER): 1 when FOLDER is one of PATH's entries (case as the system ignores
; it, a trailing backslash alike), else 0.
Function PathHas
  Exch $R1  ; the folder
  Exch
  Exch $R0  ; the path
  Push $R2
  Push $R3
  Push $R4
  StrCpy $R0 "$R0;"
  StrCpy $R3 ""  ; the entry read so far
  loop:
    StrCpy $R2 $R0 1
    StrCpy $R0 $R0 "" 1
    StrCmp $R2 "" no
    StrCmp $R2 ";" entry
    StrCpy $R3 "$R3$R2"
    Goto loop
  entry:
    StrCpy $R4 $R3 1 -1
    StrCmp $R4 "\" 0 +2
      StrCpy $R3 $R3 -1
    StrCmp $R3 $R1 yes
    StrCpy $R3 ""
    Goto loop
  yes:
    StrCpy $R0 1
    Goto done
  no:
    StrCpy $R0 0
  done:
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; PathWithout(PATH, FOLDER): PATH without its entries equal to FOLDER.
Function un.PathWithout
  Exch $R1  ; the folder
  Exch
  Exch $R0  ; the path
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  StrCpy $R0 "$R0;"
  StrCpy $R3 ""  ; the entry read so far
  StrCpy $R5 ""  ; the result
  loop:
    StrCpy $R2 $R0 1
    StrCpy $R0 $R0 "" 1
    StrCmp $R2 "" done
    StrCmp $R2 ";" entry
    StrCpy $R3 "$R3$R2"
    Goto loop
  entry:
    StrCpy $R4 $R3
    StrCpy $R2 $R4 1 -1
    StrCmp $R2 "\" 0 +2
      StrCpy $R4 $R4 -1
    StrCmp $R4 $R1 skip
    StrCmp $R3 "" skip
    StrCmp $R5 "" 0 +3
      StrCpy $R5 $R3
      Goto skip
    StrCpy $R5 "$R5;$R3"
  skip:
    StrCpy $R3 ""
    Goto loop
  done:
  StrCpy $R0 $R5
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; "setup.exe /S /PATH" chooses the PATH component in a silent install too.
Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PATH" $1
  IfErrors path_not_asked
    !insertmacro SelectSection ${SecPath}
  path_not_asked:
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ReadRegDWORD $0 HKLM "Software\ZARN TOOLS" "PathAdded"
  StrCmp $0 "1" 0 path_kept
    ReadRegStr $0 HKLM "${ENV_KEY}" "Path"
    Push "$0"
    Push "$INSTDIR"
    Call un.PathWithout
    Pop $0
    WriteRegExpandStr HKLM "${ENV_KEY}" "Path" "$0"
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  path_kept:
  Delete "$SMPROGRAMS\ZARN TOOLS\ZARN TOOLS.lnk"
  Delete "$SMPROGRAMS\ZARN TOOLS\Uninstall ZARN TOOLS.lnk"
  RMDir "$SMPROGRAMS\ZARN TOOLS"
  Delete "$INSTDIR\zarn60-tool.exe"
  Delete "$INSTDIR\zarn60.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\ZARN TOOLS"
SectionEnd

; The Cardwick installer. One script for both targets, chosen by defines:
;   makensis -DARCH=x86|amd64 -DEXE=Cardwick.exe -DREADME=README.txt -DVERSION=1.2.0.0 -DOUTFILE=setup.exe
; x86 is the release: the 32-bit program under "Program Files (x86)", its registry values in the 32-bit
; view. amd64 installs the 64-bit program under "Program Files" with the 64-bit view; the install test
; runs that one, since only 64-bit Wine runs here. Either way the installer writes where its program
; reads and writes: a 32-bit program's start-up value lives in the 32-bit view (Wow6432Node), which
; Windows runs at logon as well.

!ifndef ARCH | EXE | README | VERSION | OUTFILE
  !error "define ARCH, EXE, README, VERSION and OUTFILE"
!endif

Unicode true
Target ${ARCH}-unicode
SetCompressor /SOLID lzma

!define PRODUCT "Orvela Cardwick"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvelaCardwick"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Program Files and the machine-wide keys need an administrator.
RequestExecutionLevel admin
!if ${ARCH} == amd64
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
  !define REG_VIEW 64
!else
  InstallDir "$PROGRAMFILES32\${PRODUCT}"
  !define REG_VIEW 32
!endif

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "The Cardwick developers"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 The Cardwick developers"

!include "MUI2.nsh"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView ${REG_VIEW}
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView ${REG_VIEW}
  SetShellVarContext all
FunctionEnd

Section "!${PRODUCT}" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=Cardwick.exe" "${EXE}"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ; The shortcut starts the program in its own folder (the output path is the shortcut's working
  ; directory): the program builds its start-up value from the current directory.
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Cardwick.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Cardwick developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Cardwick.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; On by default, as the settings dialog's "Load on Windows startup" is. The value is the one the
; program writes when started from its folder: that folder, "\Cardwick.exe", no quotes.
Section "Start with Windows" SecStartup
  WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" "$INSTDIR\Cardwick.exe"
SectionEnd

; cardwick.ini, in the Windows directory or a user's virtual store, is the user's data: it stays.
Section "Uninstall"
  Delete "$INSTDIR\Cardwick.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

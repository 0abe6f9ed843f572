; The Cardwick installer. One script for both targets, chosen by defines:
;   makensis -DARCH=x86|amd64 -DEXE=Cardwick.exe -DREADME=README.txt -DLICENSE=LICENSE.txt
;            -DICON=Cardwick.ico -DVERSION=1.2.0.0 -DOUTFILE=setup.exe [-DSIGN=command]
; x86 is the release: the 32-bit program under "Program Files (x86)", its registry values in the 32-bit
; view. amd64 installs the 64-bit program under "Program Files" with the 64-bit view; the install test
; runs that one, since only 64-bit Wine runs here. Either way the installer writes where its program
; reads and writes: a 32-bit program's start-up value lives in the 32-bit view (Wow6432Node), which
; Windows runs at logon as well.
; SIGN, when given, is a command that signs the file named by its last argument in place; the
; uninstaller and the installer are signed with it as they are made.
;
; Options (silent or not): /PORT=COM3 /BAUD=19200 /PARITY=Even write those settings to the machine's
; cardwick.ini; /NOSTARTUP installs without the start-up value and removes an existing one; /? lists
; them. Exit codes: 0 done; 3010 done, but a running Cardwick could not be closed: the new program is
; in place and the old file goes at the next restart; 2 the program could not be put in place.

!ifndef ARCH | EXE | README | LICENSE | ICON | VERSION | OUTFILE
  !error "define ARCH, EXE, README, LICENSE, ICON, VERSION and OUTFILE"
!endif

Unicode true
Target ${ARCH}-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!define PRODUCT "Orvela Cardwick"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvelaCardwick"
; The main window's class: how the installer finds a running Cardwick of this session.
!define MAIN_WINDOW_CLASS "TfrmCardReader"
!define ENDSESSION_CLOSEAPP 1
!define SYNCHRONIZE 0x00100000
!define MOVEFILE_DELAY_UNTIL_REBOOT 4
!define ERROR_SUCCESS_REBOOT_REQUIRED 3010
!define USAGE "Cardwick setup options:$\n$\n\
/S$\tinstall silently$\n\
/D=folder$\tinstall into this folder (last on the line)$\n\
/PORT=COM3$\tthe reader's port, written to cardwick.ini$\n\
/BAUD=19200$\tthe baud rate, written to cardwick.ini$\n\
/PARITY=Even$\tEven or None, written to cardwick.ini$\n\
/NOSTARTUP$\tdo not start Cardwick at logon (removes an existing start)$\n$\n\
Exit codes: 0 done; 3010 done, a restart removes the old program; 2 failed."

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
; An upgrade goes where the installed copy is, /D= or not. Read in the installer's own view, which
; is the one it writes (32-bit for x86, 64-bit for amd64).
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

; "= 0": a signature that fails fails the build, instead of shipping an unsigned file.
!ifdef SIGN
  !uninstfinalize '${SIGN} "%1"' = 0
  !finalize '${SIGN} "%1"' = 0
!endif

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "The Cardwick developers"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 The Cardwick developers"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"
!include "WinMessages.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Run Cardwick"
!define MUI_FINISHPAGE_RUN_FUNCTION RunCardwick
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var Port
Var Baud
Var Parity
; 1 once a running Cardwick was closed to make way.
Var Closed

; Asks every Cardwick of this session to end as Restart Manager would (its main window agrees to
; WM_QUERYENDSESSION and ends at WM_ENDSESSION with ENDSESSION_CLOSEAPP), and waits for each process
; to be gone. A copy that does not take the message in time (a hung one) is left running, as is one of
; another session, which is not seen at all: its file is then moved aside instead. Sets $Closed to 1
; when one ended. The bounds are generous: where the program runs emulated, a message or a process's
; end can take seconds, and a copy that answered is waited for until it has gone.
!define CLOSE_MESSAGE_MS 15000
!define CLOSE_EXIT_MS 60000
!define SMTO_NORMAL 0
!macro CLOSE_RUNNING_CARDWICK un
Function ${un}CloseRunningCardwick
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  StrCpy $R5 0
  ${Do}
    FindWindow $R0 "${MAIN_WINDOW_CLASS}"
    ${If} $R0 == 0
    ${OrIf} $R5 >= 5
      ${Break}
    ${EndIf}
    IntOp $R5 $R5 + 1
    System::Call 'user32::GetWindowThreadProcessId(p R0, *i .R1)'
    System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i R1) p .R2'
    DetailPrint "Closing the running Cardwick (process $R1)"
    ; The answer to the query does not matter (Restart Manager ends the program all the same), its
    ; delivery does: SendMessageTimeout returns 0 when the window did not take the message in time,
    ; and a window that does not answer the query will not answer the end either.
    System::Call 'user32::SendMessageTimeoutW(p R0, i ${WM_QUERYENDSESSION}, p 0, p ${ENDSESSION_CLOSEAPP}, i ${SMTO_NORMAL}, i ${CLOSE_MESSAGE_MS}, *p .R4) p .R3'
    ${If} $R3 != 0
      System::Call 'user32::SendMessageTimeoutW(p R0, i ${WM_ENDSESSION}, p 1, p ${ENDSESSION_CLOSEAPP}, i ${SMTO_NORMAL}, i ${CLOSE_MESSAGE_MS}, *p .R4) p .R3'
    ${EndIf}
    StrCpy $R4 -1
    ${If} $R2 != 0
      ${If} $R3 != 0
        System::Call 'kernel32::WaitForSingleObject(p R2, i ${CLOSE_EXIT_MS}) i .R4'
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p R2)'
    ${EndIf}
    ${If} $R4 != 0
      DetailPrint "The running Cardwick did not end"
      ${Break}
    ${EndIf}
    StrCpy $Closed 1
  ${Loop}
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_CARDWICK ""
!insertmacro CLOSE_RUNNING_CARDWICK "un."

; A running program's file cannot be replaced or deleted, but it can be renamed: the running copy goes
; on from the new name, and the file is deleted at the next restart. Leaves the error flag set when
; even the rename failed.
!macro MOVE_ASIDE un
Function ${un}MoveAside
  Exch $R0
  Push $R1
  System::Call 'kernel32::GetTickCount() i .R1'
  ClearErrors
  Rename "$INSTDIR\$R0" "$INSTDIR\Cardwick-old-$R1.exe"
  ${IfNot} ${Errors}
    DetailPrint "$R0 is in use: moved aside, deleted at the next restart"
    Delete /REBOOTOK "$INSTDIR\Cardwick-old-$R1.exe"
    ClearErrors
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro MOVE_ASIDE ""
!insertmacro MOVE_ASIDE "un."

; Through the shell, so that Cardwick runs as the signed-in user and not with the installer's
; elevation (its typing would not reach ordinary windows' neighbours, and its settings would skip
; the user's virtual store).
Function RunCardwick
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\Cardwick.exe"'
FunctionEnd

Section "!${PRODUCT}" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  Call CloseRunningCardwick
  ; Left-overs of earlier upgrades whose restart has not come yet.
  Delete "$INSTDIR\Cardwick-old-*.exe"
  ; "try": a file in use sets the error flag instead of asking (and, silently, skipping it).
  SetOverwrite try
  ; A program that has just ended may hold its file for a moment longer (up to 20 s, for slow
  ; machines; only after a copy was closed).
  StrCpy $R9 0
  ${Do}
    ClearErrors
    File "/oname=Cardwick.exe" "${EXE}"
    ; Checking the error flag clears it: keep the answer.
    StrCpy $R8 0
    IfErrors 0 +2
      StrCpy $R8 1
    ${If} $R8 == 0
    ${OrIf} $Closed != 1
    ${OrIf} $R9 >= 40
      ${Break}
    ${EndIf}
    IntOp $R9 $R9 + 1
    Sleep 500
  ${Loop}
  ${If} $R8 == 1
    Push "Cardwick.exe"
    Call MoveAside
    ClearErrors
    File "/oname=Cardwick.exe" "${EXE}"
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONSTOP "Cardwick.exe is in use and could not be replaced.$\nEnd Cardwick and run setup again." /SD IDOK
      SetErrorLevel 2
      Abort "Cardwick.exe could not be replaced"
    ${EndIf}
  ${EndIf}
  SetOverwrite on
  File "/oname=README.txt" "${README}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Cardwick.exe"

  ${GetSize} "$INSTDIR" "/S=0K" $R0 $R1 $R2
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Orvela"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Cardwick.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $R0
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  ; Run in place (_?=), the uninstaller is the process a deployment tool starts, so the tool can
  ; wait for it and read its exit code; it moves its own file out of the way itself.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; On by default, as the settings dialog's "Load on Windows startup" is. The value is the text the
; program itself writes: its own file, quoted.
Section "Start with Windows" SecStartup
  WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\Cardwick.exe"'
SectionEnd

Section "-Settings"
  ${IfNot} ${SectionIsSelected} ${SecStartup}
    DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  ${EndIf}
  ; The machine's settings file, in the program's own keys and order. A new file gets the settings
  ; dialog's defaults for every key not given; an existing one keeps every key not named.
  ${If} "$Port$Baud$Parity" != ""
    StrCpy $R0 "$WINDIR\cardwick.ini"
    ${IfNot} ${FileExists} $R0
      ${If} ${SectionIsSelected} ${SecStartup}
        WriteINIStr $R0 "General" "Load on Windows startup" "1"
      ${Else}
        WriteINIStr $R0 "General" "Load on Windows startup" "0"
      ${EndIf}
      WriteINIStr $R0 "General" "Show on startup" "0"
      WriteINIStr $R0 "General" "Suffix Carriage Return" "1"
      ${If} $Baud == ""
        StrCpy $Baud "19200"
      ${EndIf}
      ${If} $Parity == ""
        StrCpy $Parity "Even"
      ${EndIf}
      WriteINIStr $R0 "Ports" "Port" $Port
    ${ElseIf} $Port != ""
      WriteINIStr $R0 "Ports" "Port" $Port
    ${EndIf}
    ${If} $Baud != ""
      WriteINIStr $R0 "Ports" "Baud rate" $Baud
    ${EndIf}
    ${If} $Parity != ""
      WriteINIStr $R0 "Ports" "Parity" $Parity
    ${EndIf}
    FlushINI $R0
    DetailPrint "Settings written to $R0"
  ${EndIf}
SectionEnd

Section "-Finish"
  ${If} $Closed == 1
  ${AndIfNot} ${Silent}
    Call RunCardwick
  ${EndIf}
  ${If} ${RebootFlag}
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
  ${EndIf}
SectionEnd

; After the sections: it unselects one by its index.
Function .onInit
  SetRegView ${REG_VIEW}
  SetShellVarContext all
  StrCpy $Closed 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/?" $R1
  ${IfNot} ${Errors}
    MessageBox MB_OK|MB_ICONINFORMATION "${USAGE}"
    Quit
  ${EndIf}
  ${GetOptions} $R0 "/PORT=" $Port
  ${GetOptions} $R0 "/BAUD=" $Baud
  ${GetOptions} $R0 "/PARITY=" $Parity
  ClearErrors
  ${GetOptions} $R0 "/NOSTARTUP" $R1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecStartup}
  ${EndIf}
FunctionEnd

; Run in place (_?=, as the QuietUninstallString does, so that a deployment tool can wait for it),
; the uninstaller cannot delete its own file, nor rename it: it reads itself as it runs and shares the
; file with readers only. So it leaves that file and the folder to a copy of itself in the temporary
; folder, which waits for this process to end and then deletes them (/CLEANUP=process), and deletes
; itself at the next restart, as an uninstaller run from its copy always does.
!define CLEANUP_WAIT_MS 120000

Function un.onInit
  SetRegView ${REG_VIEW}
  SetShellVarContext all
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/CLEANUP=" $R1
  ${IfNot} ${Errors}
    Call un.CleanUpAfter
    Quit
  ${EndIf}
FunctionEnd

; $R1: the process whose end to wait for.
Function un.CleanUpAfter
  ; Not the install folder as the current directory: it would keep the folder.
  SetOutPath "$TEMP"
  IntOp $R1 $R1 + 0
  System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i R1) p .R2'
  ${If} $R2 != 0
    System::Call 'kernel32::WaitForSingleObject(p R2, i ${CLEANUP_WAIT_MS}) i .R3'
    System::Call 'kernel32::CloseHandle(p R2)'
  ${EndIf}
  ; An ended process may hold its file for a moment longer.
  StrCpy $R4 0
  ${Do}
    Delete "$INSTDIR\Uninstall.exe"
    ${IfNot} ${FileExists} "$INSTDIR\Uninstall.exe"
    ${OrIf} $R4 >= 40
      ${Break}
    ${EndIf}
    IntOp $R4 $R4 + 1
    Sleep 500
  ${Loop}
  Delete /REBOOTOK "$INSTDIR\Uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  System::Call 'kernel32::MoveFileExW(w "$EXEPATH", p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT})'
FunctionEnd

; Starts the copy that removes this uninstaller's file and the folder once it has ended. Sets the
; error flag when it could not.
Function un.StartCleanUp
  System::Call 'kernel32::GetCurrentProcessId() i .R1'
  System::Call 'kernel32::GetTickCount() i .R2'
  StrCpy $R2 "$TEMP\Cardwick-uninstall-$R2.exe"
  System::Call 'kernel32::CopyFileW(w "$EXEPATH", w R2, i 0) i .R3'
  ClearErrors
  ${If} $R3 == 0
    SetErrors
    Return
  ${EndIf}
  ; Exec starts it in the output folder: not the install folder, which it is to remove.
  SetOutPath "$TEMP"
  Exec '"$R2" /S /CLEANUP=$R1 _?=$INSTDIR'
  ${If} ${Errors}
    Delete $R2
    SetErrors
  ${EndIf}
FunctionEnd

; cardwick.ini, in the Windows directory or a user's virtual store, is the user's data: it stays.
Section "Uninstall"
  Call un.CloseRunningCardwick
  ClearErrors
  Delete "$INSTDIR\Cardwick.exe"
  ${If} ${FileExists} "$INSTDIR\Cardwick.exe"
    Push "Cardwick.exe"
    Call un.MoveAside
  ${EndIf}
  Delete /REBOOTOK "$INSTDIR\Cardwick-old-*.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Uninstall.exe"
  StrCpy $R5 0
  ${If} ${FileExists} "$INSTDIR\Uninstall.exe"
  ${AndIf} $EXEDIR == $INSTDIR
    Call un.StartCleanUp
    ${IfNot} ${Errors}
      StrCpy $R5 1
      DetailPrint "Uninstall.exe and the folder go as soon as the uninstaller has ended."
    ${EndIf}
  ${EndIf}
  ${If} $R5 == 0
    Delete /REBOOTOK "$INSTDIR\Uninstall.exe"
    RMDir /REBOOTOK "$INSTDIR"
  ${EndIf}
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${If} ${RebootFlag}
    DetailPrint "Cardwick is removed; its last files go at the next restart."
    MessageBox MB_OK|MB_ICONINFORMATION "Cardwick is removed; its last files go at the next restart." /SD IDOK
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
  ${Else}
    DetailPrint "Cardwick is removed."
  ${EndIf}
SectionEnd

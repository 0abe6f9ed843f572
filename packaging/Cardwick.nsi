; The Cardwick installer. One script for both targets, chosen by defines:
;   makensis -DARCH=x86|amd64 -DEXE=Cardwick.exe -DREADME=README.txt -DLICENSE=LICENSE.txt
;            -DICON=Cardwick.ico -DVERSION=1.2.0.0 -DOUTFILE=setup.exe [-DSIGN=command]
; x86 is the release: the 32-bit program under "Program Files (x86)", its registry values in the 32-bit
; view. amd64 installs the 64-bit program under "Program Files" with the 64-bit view, for the tests of
; the 64-bit build. Either way the installer writes where its program reads and writes: a 32-bit
; program's start-up value lives in the 32-bit view (Wow6432Node), which Windows runs at logon as well.
; SIGN, when given, is a command that signs the file named by its last argument in place; the
; uninstaller and the installer are signed with it as they are made.
;
; Options (silent or not), all checked before anything is installed:
;   /PORT=COM1..COM256 /BAUD=4800|9600|19200|38400|57600|115200 /PARITY=Even|None write those settings
;   to the machine's cardwick.ini and to every user's virtualised copy of it;
;   /STARTUP or /NOSTARTUP turns the start at logon on or off, in the registry and in those files
;   alike; without either the machine's file decides, or else an installed copy's start-up value, or
;   else it is on;
;   /D=folder installs there; an install in another folder is removed once the new copy is in place;
;   /? lists them.
; Exit codes: 0 done; 3010 done, but a file that was in use goes at the next restart; 2 the program
; could not be put in place; 87 a bad or unknown option: nothing was installed or written.

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
!define PROFILE_LIST_KEY "Software\Microsoft\Windows NT\CurrentVersion\ProfileList"
!define SETTINGS_FILE "cardwick.ini"
!define STARTUP_SETTING "Load on Windows startup"
; The main window's class: how the installer asks a running Cardwick to end.
!define MAIN_WINDOW_CLASS "TfrmCardReader"
!define ENDSESSION_CLOSEAPP 1
!define SYNCHRONIZE 0x00100000
!define PROCESS_TERMINATE 0x0001
!define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
!define MOVEFILE_DELAY_UNTIL_REBOOT 4
!define ERROR_SUCCESS_REBOOT_REQUIRED 3010
; The system's "The parameter is incorrect": 2 keeps its meaning, the program was not put in place.
!define ERROR_INVALID_PARAMETER 87
!define USAGE "Cardwick setup options:$\n$\n\
/S$\tinstall silently$\n\
/PORT=COM3$\tthe reader's port, COM1 to COM256$\n\
/BAUD=19200$\t4800, 9600, 19200, 38400, 57600 or 115200$\n\
/PARITY=Even$\tEven or None$\n\
$\t(written to cardwick.ini and to each user's own copy of it)$\n\
/STARTUP$\tstart Cardwick at logon$\n\
/NOSTARTUP$\tdo not start Cardwick at logon$\n\
$\t(neither: as cardwick.ini says, else as installed, else on)$\n\
/D=folder$\tinstall into this folder (last on the line);$\n\
$\tan install in another folder is removed$\n$\n\
Exit codes: 0 done; 3010 done, a restart removes the last old file;$\n\
2 not installed; 87 a bad or unknown option (named in a box$\n\
when not silent): nothing installed or written."

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
; An upgrade goes where the installed copy is, unless /D= names another folder. Read in the
; installer's own view, which is the one it writes (32-bit for x86, 64-bit for amd64).
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
!include "x64.nsh"

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

; The settings the options give, in the program's spelling; empty when not given.
Var Port
Var Baud
Var Parity
; "1" /STARTUP, "0" /NOSTARTUP, empty neither; and what the start at logon is to be, "1" or "0".
Var StartupOption
Var Startup
; The folder of the install this one replaces; empty on a first install.
Var OldDir
; The first bad option, as the message that names it; empty when every option is good.
Var BadOption
; 1 once a running Cardwick was ended to make way.
Var Closed

; --- Options ---

; The next word of the command line $R0 from position $R1 (moved past it), in $R3: words are parted
; by spaces, and double quotes group and are dropped. $R4 is 0 when no word is left.
Function NextWord
  StrLen $R2 $R0
  ${DoWhile} $R1 < $R2
    StrCpy $R5 $R0 1 $R1
    ${IfThen} $R5 != " " ${|} ${Break} ${|}
    IntOp $R1 $R1 + 1
  ${Loop}
  StrCpy $R3 ""
  StrCpy $R4 0
  StrCpy $R6 0
  ${DoWhile} $R1 < $R2
    StrCpy $R5 $R0 1 $R1
    ${If} $R5 == " "
    ${AndIf} $R6 == 0
      ${Break}
    ${EndIf}
    IntOp $R1 $R1 + 1
    StrCpy $R4 1
    ${If} $R5 == '"'
      IntOp $R6 1 - $R6
    ${Else}
      StrCpy $R3 "$R3$R5"
    ${EndIf}
  ${Loop}
FunctionEnd

; The value of digit $R5 in base $R7 (10 or 16, either letter case) in $R8, or -1.
Function DigitValue
  StrCpy $R8 0
  ${DoWhile} $R8 < $R7
    StrCpy $R9 "0123456789abcdef" 1 $R8
    ${IfThen} $R5 == $R9 ${|} Return ${|}
    IntOp $R8 $R8 + 1
  ${Loop}
  StrCpy $R8 -1
FunctionEnd

; From position $R1 of $R0 on: the count of digits in base $R7 in $R2 (leading zeros not counted)
; and those digits in $R3; $R4 is 0 when a character is not such a digit.
Function SignificantDigits
  StrCpy $R2 0
  StrCpy $R3 ""
  StrCpy $R4 1
  StrLen $R6 $R0
  ${DoWhile} $R1 < $R6
    StrCpy $R5 $R0 1 $R1
    Call DigitValue
    ${If} $R8 < 0
      StrCpy $R4 0
      Return
    ${EndIf}
    ${If} $R8 != 0
    ${OrIf} $R2 > 0
      IntOp $R2 $R2 + 1
      StrCpy $R3 "$R3$R5"
    ${EndIf}
    IntOp $R1 $R1 + 1
  ${Loop}
FunctionEnd

; The program's reading of a boolean setting: an integer text (leading blanks, a sign, then decimal
; digits, or hexadecimal ones after "$", "x", "X", "0x" or "0X", within 32 bits) is true unless it
; is zero; any other text gives the default. Push the text, then the default ("1" or "0"); pops "1"
; or "0".
Function SettingTextToBool
  Exch $R1
  Exch
  Exch $R0
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  Push $R8
  Push $R9
  StrCpy $R9 $R1
  StrCpy $R1 0
  ${Do}
    StrCpy $R5 $R0 1 $R1
    ${If} $R5 != " "
    ${AndIf} $R5 != "$\t"
      ${Break}
    ${EndIf}
    IntOp $R1 $R1 + 1
  ${Loop}
  ; The limit of a decimal magnitude: a negative one may reach 2^31.
  StrCpy $R2 2147483647
  StrCpy $R5 $R0 1 $R1
  ${If} $R5 == "-"
    StrCpy $R2 2147483648
  ${EndIf}
  ${If} $R5 == "-"
  ${OrIf} $R5 == "+"
    IntOp $R1 $R1 + 1
  ${EndIf}
  StrCpy $R7 10
  StrCpy $R5 $R0 1 $R1
  StrCpy $R6 $R0 2 $R1
  ${If} $R5 == "$$"
  ${OrIf} $R5 == "x"
    StrCpy $R7 16
    IntOp $R1 $R1 + 1
  ${ElseIf} $R6 == "0x"
    StrCpy $R7 16
    IntOp $R1 $R1 + 2
  ${EndIf}
  StrCpy $R8 $R2
  StrLen $R6 $R0
  ${If} $R1 >= $R6
    StrCpy $R4 0
  ${Else}
    Push $R8
    Push $R9
    Call SignificantDigits
    Pop $R9
    Pop $R8
  ${EndIf}
  ; A hexadecimal text spells 32 bits at most; a decimal one must fit the signed range.
  ${If} $R4 == 1
    ${If} $R7 == 16
      ${IfThen} $R2 > 8 ${|} StrCpy $R4 0 ${|}
    ${ElseIf} $R2 > 10
      StrCpy $R4 0
    ${ElseIf} $R2 > 0
      ${IfThen} $R3 L> $R8 ${|} StrCpy $R4 0 ${|}
    ${EndIf}
  ${EndIf}
  ${If} $R4 == 0
    StrCpy $R0 $R9
  ${ElseIf} $R2 == 0
    StrCpy $R0 0
  ${Else}
    StrCpy $R0 1
  ${EndIf}
  Pop $R9
  Pop $R8
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Exch
  Pop $R1
  Exch $R0
FunctionEnd

; $R3 holds "/NAME=value": its value in $R0; an option whose VALUE is already set is given twice,
; which ends the check with its message.
!macro OPTION_VALUE NAME VALUE
  StrLen $R0 "${NAME}"
  StrCpy $R0 $R3 "" $R0
  ${If} ${VALUE} != ""
    StrCpy $BadOption '"${NAME}" is given more than once.'
    Return
  ${EndIf}
!macroend

; "COMn" for n from 1 to 256, "com" in any case, no leading zero: $R0 in, $R0 out in upper case, or
; empty when it is none.
Function PortName
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  Push $R8
  Push $R9
  StrCpy $R4 0
  StrCpy $R5 $R0 3
  ${If} $R5 == "COM"
    StrCpy $R1 3
    StrCpy $R7 10
    Call SignificantDigits
  ${EndIf}
  StrLen $R6 $R0
  IntOp $R6 $R6 - 3
  ${If} $R4 == 0
  ${OrIf} $R2 != $R6
  ${OrIf} $R2 > 3
  ${OrIf} $R3 < 1
  ${OrIf} $R3 > 256
    StrCpy $R0 ""
  ${Else}
    StrCpy $R0 "COM$R3"
  ${EndIf}
  Pop $R9
  Pop $R8
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd

; One word of the command line, $R3: an option this setup knows with a value the program can use,
; or the message naming it in $BadOption. The program would take a bad setting without a word and
; fail at every start; the switches makensis's own code reads keep their exact spelling.
Function CheckOption
  ${If} $R3 S== "/S"
  ${OrIf} $R3 S== "/NCRC"
    Return
  ${EndIf}
  ${If} $R3 == "/?"
    MessageBox MB_OK|MB_ICONINFORMATION "${USAGE}"
    Quit
  ${EndIf}
  ${If} $R3 == "/STARTUP"
  ${OrIf} $R3 == "/NOSTARTUP"
    ${If} $StartupOption != ""
      StrCpy $BadOption '"$R3": /STARTUP and /NOSTARTUP are given together, or one of them twice.'
    ${ElseIf} $R3 == "/STARTUP"
      StrCpy $StartupOption 1
    ${Else}
      StrCpy $StartupOption 0
    ${EndIf}
    Return
  ${EndIf}
  StrCpy $R2 $R3 6
  ${If} $R2 == "/PORT="
    !insertmacro OPTION_VALUE "/PORT=" $Port
    Call PortName
    StrCpy $Port $R0
    ${If} $Port == ""
      StrCpy $BadOption '"$R3": the port must be COM1 to COM256.'
    ${EndIf}
    Return
  ${EndIf}
  ${If} $R2 == "/BAUD="
    !insertmacro OPTION_VALUE "/BAUD=" $Baud
    ${If} $R0 S== 4800
    ${OrIf} $R0 S== 9600
    ${OrIf} $R0 S== 19200
    ${OrIf} $R0 S== 38400
    ${OrIf} $R0 S== 57600
    ${OrIf} $R0 S== 115200
      StrCpy $Baud $R0
    ${Else}
      StrCpy $BadOption '"$R3": the baud rate must be 4800, 9600, 19200, 38400, 57600 or 115200.'
    ${EndIf}
    Return
  ${EndIf}
  StrCpy $R2 $R3 8
  ${If} $R2 == "/PARITY="
    !insertmacro OPTION_VALUE "/PARITY=" $Parity
    ${If} $R0 == "Even"
      StrCpy $Parity "Even"
    ${ElseIf} $R0 == "None"
      StrCpy $Parity "None"
    ${Else}
      StrCpy $BadOption '"$R3": the parity must be Even or None.'
    ${EndIf}
    Return
  ${EndIf}
  StrCpy $BadOption '"$R3" is not an option of this setup.'
FunctionEnd

; Every word of the command line, up to the first bad one. /D= is not among them: the installer's
; own start takes it, and everything after it, off the line.
Function ReadOptions
  ${GetParameters} $R0
  StrCpy $R1 0
  ${Do}
    Call NextWord
    ${IfThen} $R4 == 0 ${|} ${Break} ${|}
    Push $R0
    Push $R1
    Call CheckOption
    Pop $R1
    Pop $R0
  ${LoopUntil} $BadOption != ""
FunctionEnd

; --- The start at logon ---

; Decided before anything changes (the old install's uninstaller deletes the start-up value): the
; option; else the machine's cardwick.ini, read as the program reads it; else, on an upgrade, whether
; the start-up value is there; else on, as the settings dialog's box is.
Function DecideStartup
  ${If} $StartupOption != ""
    StrCpy $Startup $StartupOption
    Return
  ${EndIf}
  ClearErrors
  ReadINIStr $R0 "$WINDIR\${SETTINGS_FILE}" "General" "${STARTUP_SETTING}"
  ${IfNot} ${Errors}
    Push $R0
    Push 1
    Call SettingTextToBool
    Pop $Startup
    Return
  ${EndIf}
  StrCpy $Startup 1
  ${If} $OldDir != ""
    ClearErrors
    ReadRegStr $R0 HKLM "${RUN_KEY}" "${PRODUCT}"
    ${IfThen} ${Errors} ${|} StrCpy $Startup 0 ${|}
  ${EndIf}
FunctionEnd

; --- Settings files ---

; Writes the options' settings into the settings file $R0, and the start-up key wherever what the
; file holds reads otherwise than $R9, the start at logon: the settings dialog shows that key, and
; on OK would change the start-up value to agree with it, which fails for a standard user. Keys not
; named keep their values; the platform's INI functions write in the program's format. A file that
; does not exist is made only when $R1 is 1 (the machine's own): a missing copy in a user's virtual
; store is no copy at all.
Function WriteSettings
  ${IfNot} ${FileExists} $R0
    ${IfThen} $R1 != 1 ${|} Return ${|}
    ; A new file with settings gets the dialog's defaults for every key not given, in its order.
    ${If} "$Port$Baud$Parity" != ""
      WriteINIStr $R0 "General" "${STARTUP_SETTING}" $R9
      WriteINIStr $R0 "General" "Show on startup" "0"
      WriteINIStr $R0 "General" "Suffix Carriage Return" "1"
      WriteINIStr $R0 "Ports" "Port" $Port
      WriteINIStr $R0 "Ports" "Baud rate" "19200"
      WriteINIStr $R0 "Ports" "Parity" "Even"
    ${EndIf}
  ${EndIf}
  ${IfThen} $Port != "" ${|} WriteINIStr $R0 "Ports" "Port" $Port ${|}
  ${IfThen} $Baud != "" ${|} WriteINIStr $R0 "Ports" "Baud rate" $Baud ${|}
  ${IfThen} $Parity != "" ${|} WriteINIStr $R0 "Ports" "Parity" $Parity ${|}
  ReadINIStr $R2 $R0 "General" "${STARTUP_SETTING}"
  Push $R2
  Push 1
  Call SettingTextToBool
  Pop $R2
  ${If} $R2 != $R9
    WriteINIStr $R0 "General" "${STARTUP_SETTING}" $R9
  ${EndIf}
  FlushINI $R0
  ${If} ${FileExists} $R0
    DetailPrint "Settings in $R0"
  ${EndIf}
FunctionEnd

; A user who saved settings from the (virtualised) program reads a copy of cardwick.ini in their
; own virtual store, not the machine's file: every such copy gets the same keys. The profiles'
; folders are those ProfileList names, read in the system's own view.
Function WriteVirtualStoreCopies
!if ${REG_VIEW} == 32
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!endif
  ; The Windows folder's path without its drive, as the store mirrors it.
  StrCpy $R3 $WINDIR "" 2
  StrCpy $R4 0
  ${Do}
    EnumRegKey $R5 HKLM "${PROFILE_LIST_KEY}" $R4
    ${IfThen} $R5 == "" ${|} ${Break} ${|}
    IntOp $R4 $R4 + 1
    ReadRegStr $R6 HKLM "${PROFILE_LIST_KEY}\$R5" "ProfileImagePath"
    ${IfThen} $R6 == "" ${|} ${Continue} ${|}
    ExpandEnvStrings $R6 $R6
    StrCpy $R0 "$R6\AppData\Local\VirtualStore$R3\${SETTINGS_FILE}"
    StrCpy $R1 0
    Call WriteSettings
  ${Loop}
  SetRegView ${REG_VIEW}
FunctionEnd

; --- Running copies ---

; Restart Manager's way: a copy is asked to end (WM_QUERYENDSESSION, then WM_ENDSESSION with
; ENDSESSION_CLOSEAPP: the program closes its port and ends) and given a grace period; one that does
; not take the messages in that time, or has not ended after it, or has no window this session can
; reach, is terminated, as the forced shutdown does. Cardwick holds nothing unsaved, and a copy left
; running would keep the COM port until a restart.
!define CLOSE_GRACE_MS 10000
!define TERMINATE_WAIT_MS 10000
!define SMTO_NORMAL 0
!define /math CLOSE_ACCESS ${SYNCHRONIZE} | ${PROCESS_TERMINATE}
!define /redef /math CLOSE_ACCESS ${CLOSE_ACCESS} | ${PROCESS_QUERY_LIMITED_INFORMATION}

; Saves $0 to $9 around a function that uses them all.
!macro PUSH_REGISTERS
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  Push $9
!macroend
!macro POP_REGISTERS
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
!macroend

!macro CLOSE_RUNNING_CARDWICK un
; $0: a Cardwick's program file. $1 is 1 when it is this install's (or the replaced install's)
; program, or a copy an earlier upgrade moved aside there.
Function ${un}IsCardwickOfThisInstall
  ${GetFileName} $0 $1
  ${GetParent} $0 $2
  StrCpy $3 $1 13
  ${If} $1 == "Cardwick.exe"
  ${OrIf} $3 == "Cardwick-old-"
    ${If} $2 == $INSTDIR
    ${OrIf} $2 == $OldDir
      StrCpy $1 1
      Return
    ${EndIf}
  ${EndIf}
  StrCpy $1 0
FunctionEnd

; $0: the process id, $1: a handle to it. $2 is 0 once it has ended.
Function ${un}EndCardwick
  DetailPrint "Closing the running Cardwick (process $0)"
  StrCpy $2 1
  StrCpy $3 0
  ${Do}
    System::Call 'user32::FindWindowExW(p 0, p r3, w "${MAIN_WINDOW_CLASS}", p 0) p .r3'
    ${IfThen} $3 == 0 ${|} ${Break} ${|}
    System::Call 'user32::GetWindowThreadProcessId(p r3, *i .r4)'
    ${If} $4 == $0
      ; The answer to the query does not matter (Restart Manager ends the program all the same),
      ; its delivery does: 0 means the window did not take the message in time.
      System::Call 'user32::SendMessageTimeoutW(p r3, i ${WM_QUERYENDSESSION}, p 0, p ${ENDSESSION_CLOSEAPP}, i ${SMTO_NORMAL}, i ${CLOSE_GRACE_MS}, *p .r5) p .r4'
      ${If} $4 != 0
        System::Call 'user32::SendMessageTimeoutW(p r3, i ${WM_ENDSESSION}, p 1, p ${ENDSESSION_CLOSEAPP}, i ${SMTO_NORMAL}, i ${CLOSE_GRACE_MS}, *p .r5) p .r4'
      ${EndIf}
      ${If} $4 != 0
        System::Call 'kernel32::WaitForSingleObject(p r1, i ${CLOSE_GRACE_MS}) i .r2'
      ${EndIf}
      ${Break}
    ${EndIf}
  ${Loop}
  ${If} $2 != 0
    DetailPrint "Cardwick (process $0) did not end: ending it"
    System::Call 'kernel32::TerminateProcess(p r1, i 1)'
    System::Call 'kernel32::WaitForSingleObject(p r1, i ${TERMINATE_WAIT_MS}) i .r2'
  ${EndIf}
FunctionEnd

; Ends every running Cardwick of this install, in any session: found by the path of its program
; file, since FindWindow sees only this session's windows. Sets $Closed to 1 when one ended.
Function ${un}CloseRunningCardwick
  !insertmacro PUSH_REGISTERS
  System::Call 'kernel32::GetCurrentProcessId() i .r9'
  System::Alloc 65536
  Pop $8
  System::Call 'kernel32::K32EnumProcesses(p r8, i 65536, *i .r7) i .r6'
  ${IfThen} $6 == 0 ${|} StrCpy $7 0 ${|}
  StrCpy $6 0
  ${DoWhile} $6 < $7
    IntPtrOp $5 $8 + $6
    IntOp $6 $6 + 4
    System::Call '*$5(i .r5)'
    ${IfThen} $5 == $9 ${|} ${Continue} ${|}
    System::Call 'kernel32::OpenProcess(i ${CLOSE_ACCESS}, i 0, i r5) p .r1'
    ${IfThen} $1 == 0 ${|} ${Continue} ${|}
    System::Call 'kernel32::QueryFullProcessImageNameW(p r1, i 0, w .r0, *i ${NSIS_MAX_STRLEN}) i .r2'
    ${If} $2 != 0
      Push $1
      Call ${un}IsCardwickOfThisInstall
      StrCpy $2 $1
      Pop $1
      ${If} $2 == 1
        StrCpy $0 $5
        Call ${un}EndCardwick
        ${IfThen} $2 == 0 ${|} StrCpy $Closed 1 ${|}
      ${EndIf}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r1)'
  ${Loop}
  System::Free $8
  !insertmacro POP_REGISTERS
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

; --- The old install ---

; $R0 is 1 when $OldDir is the install folder, however either is spelt (case, short names, links):
; a file made in one is looked for in the other.
Function IsOldDirTheInstallFolder
  System::Call 'kernel32::GetTickCount() i .R1'
  StrCpy $R1 "Cardwick-setup-$R1.tmp"
  FileOpen $R2 "$INSTDIR\$R1" w
  FileClose $R2
  StrCpy $R0 0
  ${IfThen} ${FileExists} "$OldDir\$R1" ${|} StrCpy $R0 1 ${|}
  Delete "$INSTDIR\$R1"
FunctionEnd

; An upgrade into another folder (/D=): once the new copy is in place, the old install's own
; uninstaller removes its files, shortcut, entry and start-up value, quietly, and keeps cardwick.ini,
; as every uninstall does. The new install writes its shortcut, entry and start-up value after it.
; Without an uninstaller that did its work, the old files are deleted here.
Function RemoveOldInstall
  ${IfThen} $OldDir == "" ${|} Return ${|}
  Call IsOldDirTheInstallFolder
  ${IfThen} $R0 == 1 ${|} Return ${|}
  DetailPrint "Removing the install in $OldDir"
  StrCpy $R0 "none found"
  ${If} ${FileExists} "$OldDir\Uninstall.exe"
    ClearErrors
    ExecWait '"$OldDir\Uninstall.exe" /S _?=$OldDir' $R0
  ${EndIf}
  ${If} $R0 == ${ERROR_SUCCESS_REBOOT_REQUIRED}
    SetRebootFlag true
  ${ElseIf} $R0 != 0
    DetailPrint "The old install's uninstaller did not do its work ($R0): its files are deleted here"
    Delete /REBOOTOK "$OldDir\Cardwick.exe"
    Delete /REBOOTOK "$OldDir\Cardwick-old-*.exe"
    Delete /REBOOTOK "$OldDir\README.txt"
    Delete /REBOOTOK "$OldDir\LICENSE.txt"
    Delete /REBOOTOK "$OldDir\Uninstall.exe"
    RMDir /REBOOTOK "$OldDir"
  ${EndIf}
FunctionEnd

; Through the shell, so that Cardwick runs as the signed-in user and not with the installer's
; elevation (its typing would not reach ordinary windows' neighbours, and its settings would skip
; the user's virtual store).
Function RunCardwick
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\Cardwick.exe"'
FunctionEnd

Section "!${PRODUCT}" SecProgram
  SectionIn RO
  Call CloseRunningCardwick
  SetOutPath "$INSTDIR"
  ; Left-overs of earlier upgrades whose restart has not come yet.
  Delete "$INSTDIR\Cardwick-old-*.exe"
  ; "try": a file in use sets the error flag instead of asking (and, silently, skipping it).
  SetOverwrite try
  ; A program that has just ended may hold its file for a moment longer (up to 20 s, for slow
  ; machines; only after a copy was ended).
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
  ; Only a copy that could not be ended (one of another user's that this account may not end) keeps
  ; its file: moved aside, it goes at the next restart.
  ${If} $R8 == 1
    Push "Cardwick.exe"
    Call MoveAside
    ClearErrors
    File "/oname=Cardwick.exe" "${EXE}"
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONSTOP "Cardwick.exe could not be put in $INSTDIR.$\nEnd Cardwick and run setup again." /SD IDOK
      SetErrorLevel 2
      Abort "Cardwick.exe could not be put in place"
    ${EndIf}
  ${EndIf}
  SetOverwrite on
  File "/oname=README.txt" "${README}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  Call RemoveOldInstall
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

; Preset by DecideStartup. The value is the text the program itself writes: its own file, quoted.
Section "Start with Windows" SecStartup
  WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\Cardwick.exe"'
SectionEnd

Section "-Settings"
  StrCpy $R9 1
  ${IfNot} ${SectionIsSelected} ${SecStartup}
    StrCpy $R9 0
    DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  ${EndIf}
  StrCpy $R0 "$WINDIR\${SETTINGS_FILE}"
  StrCpy $R1 1
  Call WriteSettings
  Call WriteVirtualStoreCopies
SectionEnd

; A Cardwick ended for the upgrade starts again from the Finish page's "Run Cardwick", the one
; place that starts it.
Section "-Finish"
  ${If} ${RebootFlag}
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
  ${EndIf}
SectionEnd

; After the sections: it unselects one by its index.
Function .onInit
  SetRegView ${REG_VIEW}
  SetShellVarContext all
  StrCpy $Closed 0
  Call ReadOptions
  ${If} $BadOption != ""
    MessageBox MB_OK|MB_ICONSTOP "$BadOption$\n$\nNothing was installed. Setup /? lists the options." /SD IDOK
    SetErrorLevel ${ERROR_INVALID_PARAMETER}
    Quit
  ${EndIf}
  ReadRegStr $OldDir HKLM "${UNINSTALL_KEY}" "InstallLocation"
  Call DecideStartup
  ${If} $Startup == 0
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

; The installer of the ZYN ID Utility. ANSI, so that one setup.exe runs on the Windows 95 family
; and on NT alike.
;
; Built by installer/CMakeLists.txt from the tree that `cmake --install` lays out: stage_tree.py
; copies that tree into stage/ and writes files.nsh, the macros that install and remove exactly
; its files. makensis runs with /NOCD in the folder that holds both, so every path is relative.
; Run silently with `setup.exe /S /D=C:\Some Folder` (/D last, unquoted).

Unicode false
SetCompressor /SOLID lzma
RequestExecutionLevel admin
XPStyle off

!include "LogicLib.nsh"
!include "WinVer.nsh"
!include "files.nsh"

!define PRODUCT "ZYN ID Utility"
!define PRODUCT_KEY "Software\Orvex\ZYN ID Utility"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZYN ID Utility"
!define START_FOLDER "$SMPROGRAMS\ZYN ID Utility"
!define SHORTCUT "${START_FOLDER}\ZYN ID Utility.lnk"
!define UNINSTALLER "uninstall.exe"
!define DRIVER_SERVICE "ZYNDRV"

Name "${PRODUCT}"
; The product's board icon, drawn by the resource build, for setup.exe and the uninstaller.
!ifdef ICON
Icon "${ICON}"
UninstallIcon "${ICON}"
!endif
; The medium's launcher starts "setup.exe" by that name. makensis warns that Windows applies its
; installer heuristics to such a name; that is wanted here (an installer that writes HKLM).
!pragma warning disable 9000
OutFile "setup.exe"
InstallDir "$PROGRAMFILES\Orvex\ZYN ID Utility"
; A second install offers the folder of the first.
InstallDirRegKey HKLM "${PRODUCT_KEY}" "TargetDir"
ShowInstDetails nevershow
ShowUninstDetails nevershow

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The program finds its install folder through TargetDir alone and appends "\<Lang>\..." to it,
; so the value carries no trailing backslash, even for a drive root ("C:\" is stored as "C:").
; The text is in the system's code page: in the double-byte ones (932, 936, 949, 950) the last
; byte may be the second half of a character such as 0x95 0x5C, so it is a backslash only when
; CharPrevA, which knows the code page, finds a one-byte last character.
!macro STRIP_TRAILING_BACKSLASH UN
Function ${UN}StripTrailingBackslash
  Exch $0
  Push $1
  Push $2
  StrLen $1 $0
  ${If} $1 > 0
    System::Call '*(&t${NSIS_MAX_STRLEN} r0) i .r2'
    ${If} $2 <> 0
      IntOp $1 $2 + $1
      System::Call 'user32::CharPrevA(i r2, i r1) i .r1'
      IntOp $1 $1 - $2
      StrCpy $1 $0 "" $1
      ${If} $1 == "\"
        StrCpy $0 $0 -1
      ${EndIf}
      System::Free $2
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro STRIP_TRAILING_BACKSLASH ""

Section "ZYN ID Utility"
  SetShellVarContext all
  !insertmacro ZYN_INSTALL_FILES

  Push $INSTDIR
  Call StripTrailingBackslash
  Pop $0
  WriteRegStr HKLM "${PRODUCT_KEY}" "TargetDir" $0

  ; The program looks for its driver image in the current folder: the shortcut starts it in the
  ; install folder, which CreateShortcut takes from the output path.
  SetOutPath "$INSTDIR"
  CreateDirectory "${START_FOLDER}"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\zynid.exe"

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zynid.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Orvex"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; A run of the program that was cut short (killed, or the machine reset) leaves its driver
; service registered, and possibly running from the image about to be deleted: stop it, then
; delete it. Only the NT family has a service manager; the 9x family's advapi32 has these
; functions as stubs that fail, and the check on the platform keeps them from being called.
Function un.RemoveDriverService
  ${IfNot} ${IsNT}
    Return
  ${EndIf}
  ; SC_MANAGER_CONNECT
  System::Call 'advapi32::OpenSCManagerA(i 0, i 0, i 0x0001) i .r0'
  ${If} $0 = 0
    Return
  ${EndIf}
  ; SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE
  System::Call 'advapi32::OpenServiceA(i r0, t "${DRIVER_SERVICE}", i 0x10024) i .r1'
  ${If} $1 <> 0
    ; SERVICE_CONTROL_STOP; a stopped service fails it (1062), which changes nothing here.
    System::Call '*(i, i, i, i, i, i, i) i .r2'
    System::Call 'advapi32::ControlService(i r1, i 1, i r2) i'
    System::Free $2
    System::Call 'advapi32::DeleteService(i r1) i'
    System::Call 'advapi32::CloseServiceHandle(i r1) i'
  ${EndIf}
  System::Call 'advapi32::CloseServiceHandle(i r0) i'
FunctionEnd

; Removes what the installer added, file by file, so that files the user put into the install
; folder stay, and with them the folders that hold them.
Section "Uninstall"
  SetShellVarContext all
  Call un.RemoveDriverService
  !insertmacro ZYN_UNINSTALL_FILES
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"

  Delete "${SHORTCUT}"
  RMDir "${START_FOLDER}"

  DeleteRegValue HKLM "${PRODUCT_KEY}" "TargetDir"
  DeleteRegKey HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Orvex"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

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
!insertmacro STRIP_TRAILING_BACKSLASH "un."

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

; The uninstalled folder, without a trailing backslash: the registry entries, the shortcut and
; the driver service are removed only where they name it, so that an uninstaller left in an
; older folder does not take away the install that is now in use elsewhere.
Var OwnFolder

; The short form of the path on the stack, or the path itself when it has none (it does not
; exist).
Function un.ShortForm
  Exch $0
  Push $1
  Push $2
  System::Call 'kernel32::GetShortPathNameA(t r0, t .r1, i ${NSIS_MAX_STRLEN}) i .r2'
  ${If} $2 > 0
  ${AndIf} $2 < ${NSIS_MAX_STRLEN}
    StrCpy $0 $1
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; $R3 = 1 when the text $R4 is the path $R5 ($R2 "=") or lies in the folder $R5 ($R2 "in"),
; without regard to case (StrCmp). Uses $R6.
Function un.ComparePaths
  ${If} $R2 == "in"
    StrCpy $R5 "$R5\"
    StrLen $R6 $R5
    StrCpy $R4 $R4 $R6
  ${EndIf}
  ${If} $R4 == $R5
    StrCpy $R3 1
  ${EndIf}
FunctionEnd

; $R3 = 1 when the path $R0 is the path $R1 ($R2 "=") or lies in the folder $R1 ($R2 "in"), as
; written or in the short forms of both (one of them may have been written short). Uses $R4-$R6.
Function un.PathMatches
  StrCpy $R3 0
  StrCpy $R4 $R0
  StrCpy $R5 $R1
  Call un.ComparePaths
  ${If} $R3 = 0
    Push $R0
    Call un.ShortForm
    Pop $R4
    Push $R1
    Call un.ShortForm
    Pop $R5
    Call un.ComparePaths
  ${EndIf}
FunctionEnd

; $R3 = 1 when PATH is the path REFERENCE (MODE "=") or lies in the folder REFERENCE (MODE "in").
; Uses $R0-$R6.
!macro PATH_MATCHES PATH MODE REFERENCE
  StrCpy $R0 "${PATH}"
  StrCpy $R1 "${REFERENCE}"
  StrCpy $R2 "${MODE}"
  Call un.PathMatches
!macroend

; $R3 = 1 when FOLDER, a folder as the installer stored it, is the uninstalled folder.
!macro FOLDER_MATCHES FOLDER
  Push "${FOLDER}"
  Call un.StripTrailingBackslash
  Pop $R0
  !insertmacro PATH_MATCHES $R0 "=" $OwnFolder
!macroend

; $R0 = the program the Start-menu shortcut starts, read through IShellLinkA, or "" when there
; is no shortcut or it cannot be read.
Function un.ShortcutTarget
  StrCpy $R0 ""
  IfFileExists "${SHORTCUT}" 0 done
  System::Call 'ole32::CoInitialize(i 0) i .r3'
  ; CLSID_ShellLink, CLSCTX_INPROC_SERVER, IID_IShellLinkA
  System::Call 'ole32::CoCreateInstance(g "{00021401-0000-0000-C000-000000000046}", i 0, i 1, \
                g "{000214EE-0000-0000-C000-000000000046}", *i .r0) i .r1'
  ${If} $1 = 0
    ; QueryInterface for IID_IPersistFile, Load (STGM_READ), then IShellLinkA::GetPath.
    System::Call '$0->0(g "{0000010B-0000-0000-C000-000000000046}", *i .r2) i .r1'
    ${If} $1 = 0
      System::Call '$2->5(w "${SHORTCUT}", i 0) i .r1'
      ${If} $1 = 0
        System::Call '$0->3(t .R0, i ${NSIS_MAX_STRLEN}, i 0, i 0) i .r1'
        ${If} $1 <> 0
          StrCpy $R0 ""
        ${EndIf}
      ${EndIf}
      System::Call '$2->2()'
    ${EndIf}
    System::Call '$0->2()'
  ${EndIf}
  ; S_OK and S_FALSE both want their CoUninitialize.
  ${If} $3 = 0
  ${OrIf} $3 = 1
    System::Call 'ole32::CoUninitialize()'
  ${EndIf}
done:
FunctionEnd

; $R0 = the image of the ZYNDRV service as a Win32 path. The service manager keeps a driver's
; image in any of the forms "\??\C:\...", "\DosDevices\C:\...", "\SystemRoot\...",
; "System32\drivers\..." (relative to the system folder), "%SystemRoot%\..." or "C:\...", and
; none at all for the default "\SystemRoot\System32\drivers\ZYNDRV.sys". A path of the kernel's
; own namespace ("\Device\...") stays as it is and so matches no folder.
Function un.DriverServiceImage
  ReadRegStr $R0 HKLM "SYSTEM\CurrentControlSet\Services\${DRIVER_SERVICE}" "ImagePath"
  ExpandEnvStrings $R0 $R0
  ReadEnvStr $R1 "SystemRoot"
  ${If} $R0 == ""
    StrCpy $R0 "$R1\System32\drivers\${DRIVER_SERVICE}.sys"
    Return
  ${EndIf}
  StrCpy $R2 $R0 1
  ${If} $R2 == '"'
    StrCpy $R0 $R0 "" 1
    StrCpy $R2 $R0 1 -1
    ${If} $R2 == '"'
      StrCpy $R0 $R0 -1
    ${EndIf}
  ${EndIf}
  StrCpy $R2 $R0 4
  ${If} $R2 == "\??\"
  ${OrIf} $R2 == "\\?\"
    StrCpy $R0 $R0 "" 4
  ${EndIf}
  StrCpy $R2 $R0 12
  ${If} $R2 == "\DosDevices\"
    StrCpy $R0 $R0 "" 12
  ${EndIf}
  StrCpy $R2 $R0 12
  ${If} $R2 == "\SystemRoot\"
    StrCpy $R0 $R0 "" 12
    StrCpy $R0 "$R1\$R0"
  ${EndIf}
  StrCpy $R2 $R0 1 1
  StrCpy $R3 $R0 1
  ${If} $R2 != ":"
  ${AndIf} $R3 != "\"
    StrCpy $R0 "$R1\$R0"
  ${EndIf}
FunctionEnd

; A run of the program that was cut short (killed, or the machine reset) leaves its driver
; service registered, and possibly running from the image about to be deleted: stop it, then
; delete it. A ZYNDRV service whose image lies elsewhere is not this install's (another install
; of the product, or another program's driver of that name) and stays. Only the NT family has a
; service manager; the 9x family's advapi32 has these functions as stubs that fail, and the
; check on the platform keeps them from being called.
Function un.RemoveDriverService
  ${IfNot} ${IsNT}
    Return
  ${EndIf}
  Call un.DriverServiceImage
  !insertmacro PATH_MATCHES $R0 "in" $OwnFolder
  ${If} $R3 = 0
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
; folder stay, and with them the folders that hold them. The product key, the Add/Remove entry
; and the shortcut go only where they name this folder: after an install into another folder
; they belong to that one.
Section "Uninstall"
  SetShellVarContext all
  Push $INSTDIR
  Call un.StripTrailingBackslash
  Pop $OwnFolder
  Call un.RemoveDriverService

  ; Decided while the folder and its files are still there, for the comparison of short forms.
  Call un.ShortcutTarget
  !insertmacro PATH_MATCHES $R0 "=" "$OwnFolder\zynid.exe"
  StrCpy $7 $R3
  ReadRegStr $R0 HKLM "${PRODUCT_KEY}" "TargetDir"
  !insertmacro FOLDER_MATCHES $R0
  StrCpy $8 $R3
  ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  !insertmacro FOLDER_MATCHES $R0
  StrCpy $9 $R3

  !insertmacro ZYN_UNINSTALL_FILES
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"

  ${If} $7 = 1
    Delete "${SHORTCUT}"
  ${EndIf}
  RMDir "${START_FOLDER}"
  ${If} $8 = 1
    DeleteRegKey HKLM "${PRODUCT_KEY}"
  ${EndIf}
  DeleteRegKey /ifempty HKLM "Software\Orvex"
  ${If} $9 = 1
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd

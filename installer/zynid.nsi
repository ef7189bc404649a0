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

; Whoever can change the install folder chooses what runs with an administrator's rights:
; uninstall.exe and zynid.exe run elevated, ZYNRes.lrc is loaded into zynid, ZYNDRV.sys into the
; kernel. So on the NT family the installer makes Administrators the owner of the folder and gives
; it an access list of its own: SYSTEM and Administrators full control, Users read and execute,
; each entry inherited by the files and subfolders, nothing inherited from the parent (a folder
; made under C:\ inherits "Authenticated Users: Modify" on Vista and later, and lets users add
; files on NT 4.0 to XP). The 9x family has no file security.
!define FILE_ALL_ACCESS 0x1F01FF
; FILE_GENERIC_READ | FILE_GENERIC_EXECUTE: no right that writes, appends or deletes.
!define FILE_READ_EXECUTE 0x1200A9
; OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE
!define INHERITED_BY_ALL 0x3
!define ACL_REVISION 2
!define OWNER_SECURITY_INFORMATION 0x1
!define DACL_SECURITY_INFORMATION 0x4
!define SE_DACL_PROTECTED 0x1000
; An entry is opened as itself, never as what a link in its place points to, and only for its
; attributes, which its own access list cannot withhold from the owner of its folder.
!define FILE_READ_ATTRIBUTES 0x80
!define OPEN_ENTRY_ITSELF 0x02200000 ; FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT
!define FILE_ATTRIBUTE_DIRECTORY 0x10
!define FILE_ATTRIBUTE_REPARSE_POINT 0x400

Var FolderSecurity  ; the descriptor given to the folder and to everything it holds beforehand
Var FolderAcl
Var SidSystem
Var SidAdministrators
Var SidUsers
Var SecurityFailure ; "" or the message that ends the install

; Builds $FolderSecurity (0 when any step fails). NT 4.0 has no AddAccessAllowedAceEx, so each
; entry's inheritance flags are written into its header; nor a "protected" access list, which it
; needs no more than it has automatic inheritance: there an access list set on a folder stays as
; set. From Windows 2000 on, the protected flag keeps the parent's entries from flowing in later.
Function BuildFolderSecurity
  StrCpy $FolderSecurity 0
  ; SECURITY_NT_AUTHORITY; the well-known SYSTEM, BUILTIN\Administrators and BUILTIN\Users
  System::Call '*(&i1 0, &i1 0, &i1 0, &i1 0, &i1 0, &i1 5) i .r0'
  System::Call 'advapi32::AllocateAndInitializeSid(i r0, i 1, i 18, \
                i 0, i 0, i 0, i 0, i 0, i 0, i 0, *i .r1) i'
  System::Call 'advapi32::AllocateAndInitializeSid(i r0, i 2, i 32, i 544, \
                i 0, i 0, i 0, i 0, i 0, i 0, *i .r2) i'
  System::Call 'advapi32::AllocateAndInitializeSid(i r0, i 2, i 32, i 545, \
                i 0, i 0, i 0, i 0, i 0, i 0, *i .r3) i'
  System::Free $0
  StrCpy $SidSystem $1
  StrCpy $SidAdministrators $2
  StrCpy $SidUsers $3
  ${If} $1 = 0
  ${OrIf} $2 = 0
  ${OrIf} $3 = 0
    Return
  ${EndIf}
  ; Three entries of at most 8 + 16 bytes after the 8-byte header.
  System::Alloc 128
  Pop $FolderAcl
  System::Call 'advapi32::InitializeAcl(i $FolderAcl, i 128, i ${ACL_REVISION}) i .r0'
  System::Call 'advapi32::AddAccessAllowedAce(i $FolderAcl, i ${ACL_REVISION}, \
                i ${FILE_ALL_ACCESS}, i r1) i .r4'
  IntOp $0 $0 && $4
  System::Call 'advapi32::AddAccessAllowedAce(i $FolderAcl, i ${ACL_REVISION}, \
                i ${FILE_ALL_ACCESS}, i r2) i .r4'
  IntOp $0 $0 && $4
  System::Call 'advapi32::AddAccessAllowedAce(i $FolderAcl, i ${ACL_REVISION}, \
                i ${FILE_READ_EXECUTE}, i r3) i .r4'
  IntOp $0 $0 && $4
  ${ForEach} $5 0 2 + 1
    System::Call 'advapi32::GetAce(i $FolderAcl, i r5, *i .r6) i .r4'
    IntOp $0 $0 && $4
    ${If} $4 <> 0
      ; ACE_HEADER: AceType, then AceFlags
      IntOp $6 $6 + 1
      System::Call '*$6(&i1 ${INHERITED_BY_ALL})'
    ${EndIf}
  ${Next}
  ; An absolute SECURITY_DESCRIPTOR is 20 bytes.
  System::Alloc 32
  Pop $5
  System::Call 'advapi32::InitializeSecurityDescriptor(i r5, i 1) i .r4'
  IntOp $0 $0 && $4
  System::Call 'advapi32::SetSecurityDescriptorOwner(i r5, i r2, i 0) i .r4'
  IntOp $0 $0 && $4
  System::Call 'advapi32::SetSecurityDescriptorDacl(i r5, i 1, i $FolderAcl, i 0) i .r4'
  IntOp $0 $0 && $4
  ${If} ${AtLeastWin2000}
    System::Call 'advapi32::SetSecurityDescriptorControl(i r5, i ${SE_DACL_PROTECTED}, \
                  i ${SE_DACL_PROTECTED}) i .r4'
    IntOp $0 $0 && $4
  ${EndIf}
  ${If} $0 <> 0
    StrCpy $FolderSecurity $5
  ${Else}
    System::Free $5
  ${EndIf}
FunctionEnd

Function FreeFolderSecurity
  ${If} $FolderSecurity <> 0
    System::Free $FolderSecurity
  ${EndIf}
  ${If} $FolderAcl <> 0
    System::Free $FolderAcl
  ${EndIf}
  ${If} $SidSystem <> 0
    System::Call 'advapi32::FreeSid(i $SidSystem) i'
  ${EndIf}
  ${If} $SidAdministrators <> 0
    System::Call 'advapi32::FreeSid(i $SidAdministrators) i'
  ${EndIf}
  ${If} $SidUsers <> 0
    System::Call 'advapi32::FreeSid(i $SidUsers) i'
  ${EndIf}
FunctionEnd

; An administrator may take the ownership of a folder whose access list shuts administrators
; out, as a user's own folder may, once this privilege is enabled; as the owner it may then
; replace the access list. Without it such a folder fails below, with its message.
Function EnableTakeOwnership
  System::Call 'kernel32::GetCurrentProcess() i .r0'
  ; TOKEN_ADJUST_PRIVILEGES
  System::Call 'advapi32::OpenProcessToken(i r0, i 0x20, *i .r1) i .r2'
  ${If} $2 <> 0
    ; TOKEN_PRIVILEGES with one LUID_AND_ATTRIBUTES, SE_PRIVILEGE_ENABLED
    System::Call '*(i 1, i 0, i 0, i 2) i .r3'
    IntOp $4 $3 + 4
    System::Call 'advapi32::LookupPrivilegeValueA(i 0, t "SeTakeOwnershipPrivilege", i r4) i .r2'
    ${If} $2 <> 0
      System::Call 'advapi32::AdjustTokenPrivileges(i r1, i 0, i r3, i 0, i 0, i 0) i'
    ${EndIf}
    System::Free $3
    System::Call 'kernel32::CloseHandle(i r1) i'
  ${EndIf}
FunctionEnd

; The attributes of the entry whose path is on the stack, which they replace. A link (a junction
; or symbolic link, or a file with a second name) fails the install: securing it or writing
; through it would act on whatever it names, which may be any file of the system.
Function EntryAttributes
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $4 0
  System::Call 'kernel32::CreateFileA(t r0, i ${FILE_READ_ATTRIBUTES}, i 7, i 0, i 3, \
                i ${OPEN_ENTRY_ITSELF}, i 0) i .r1 ?e'
  Pop $2
  ${If} $1 <> -1
    ; BY_HANDLE_FILE_INFORMATION: the attributes first, the number of names at byte 40
    System::Alloc 52
    Pop $3
    System::Call 'kernel32::GetFileInformationByHandle(i r1, i r3) i .r4 ?e'
    Pop $2
    ${If} $4 <> 0
      System::Call '*$3(i .r4, i, i, i, i, i, i, i, i, i, i .r2)'
    ${EndIf}
    System::Free $3
    System::Call 'kernel32::CloseHandle(i r1) i'
    StrCpy $1 $4
  ${EndIf}
  ${If} $1 = -1
  ${OrIf} $1 = 0
    StrCpy $SecurityFailure "Setup cannot look at $0 (error $2)."
  ${Else}
    IntOp $1 $4 & ${FILE_ATTRIBUTE_REPARSE_POINT}
    IntOp $3 $4 & ${FILE_ATTRIBUTE_DIRECTORY}
    ${If} $3 = 0
    ${AndIf} $2 > 1
      StrCpy $1 1
    ${EndIf}
    ${If} $1 <> 0
      StrCpy $SecurityFailure "$0 is a link to another place. Remove it, or choose another \
                               folder."
    ${EndIf}
  ${EndIf}
  StrCpy $0 $4
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Gives the entry whose path is on the stack the folder's owner, then, as its owner, the
; folder's access list.
Function SecureEntry
  Exch $0
  Push $1
  Push $2
  System::Call 'advapi32::SetFileSecurityA(t r0, i ${OWNER_SECURITY_INFORMATION}, \
                i $FolderSecurity) i .r1 ?e'
  Pop $2
  ${If} $1 <> 0
    System::Call 'advapi32::SetFileSecurityA(t r0, i ${DACL_SECURITY_INFORMATION}, \
                  i $FolderSecurity) i .r1 ?e'
    Pop $2
  ${EndIf}
  ${If} $1 = 0
    StrCpy $SecurityFailure "Setup cannot make $0 a folder that only administrators can change \
                             (error $2)."
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Secures the entry whose path is on the stack and, if it is a folder, what it holds, each folder
; before its contents, so that nothing can be added below a folder once it has been listed.
Function SecureTree
  Exch $0
  Push $1
  Push $2
  Push $0
  Call EntryAttributes
  Pop $1
  ${If} $SecurityFailure == ""
    Push $0
    Call SecureEntry
  ${EndIf}
  IntOp $1 $1 & ${FILE_ATTRIBUTE_DIRECTORY}
  ${If} $SecurityFailure == ""
  ${AndIf} $1 <> 0
    FindFirst $1 $2 "$0\*.*"
    ${DoWhile} $2 != ""
      ${If} $2 != "."
      ${AndIf} $2 != ".."
        Push "$0\$2"
        Call SecureTree
      ${EndIf}
      ${If} $SecurityFailure != ""
        ${ExitDo}
      ${EndIf}
      FindNext $1 $2
    ${Loop}
    FindClose $1
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Makes the install folder with the folders on the way to it and secures the first one it made,
; or the install folder if that existed, with all that it holds. An existing folder must be empty
; or hold an install of this product: replacing the security of a folder that holds other
; programs' or users' files would take their access from them. Sets $SecurityFailure on failure.
Function SecureInstallFolder
  StrCpy $SecurityFailure ""
  Push $INSTDIR
  Call StripTrailingBackslash
  Pop $0
  StrCpy $1 $0 1 1
  StrLen $2 $0
  ${If} $2 = 2
  ${AndIf} $1 == ":"
    StrCpy $SecurityFailure "Setup does not install into the root of a drive, whose security \
                             it would change for the whole drive: choose a folder."
    Return
  ${EndIf}

  ; The first folder on the way that does not exist, found from the top in whole characters:
  ; in the double-byte code pages a backslash byte may be the second half of a character.
  ; Folders can be made from the second backslash of "C:\..." on, the fourth of "\\server\...".
  StrCpy $3 $0
  StrCpy $1 $0 2
  StrCpy $7 2
  ${If} $1 == "\\"
    StrCpy $7 4
  ${EndIf}
  StrCpy $6 0
  System::Call '*(&t${NSIS_MAX_STRLEN} r0) i .r4'
  StrCpy $5 $4
  ${Do}
    System::Call '*$5(&i1 .r1)'
    ${If} $1 = 0
      ${ExitDo}
    ${ElseIf} $1 = 92
      IntOp $6 $6 + 1
      ${If} $6 >= $7
        IntOp $2 $5 - $4
        StrCpy $2 $0 $2
        ${IfNot} ${FileExists} "$2\*.*"
          StrCpy $3 $2
          ${ExitDo}
        ${EndIf}
      ${EndIf}
    ${EndIf}
    System::Call 'user32::CharNextA(i r5) i .r5'
  ${Loop}
  System::Free $4

  ${If} $3 == $0
  ${AndIf} ${FileExists} "$0\*.*"
  ${AndIfNot} ${FileExists} "$0\zynid.exe"
  ${AndIfNot} ${FileExists} "$0\${UNINSTALLER}"
    FindFirst $1 $2 "$0\*.*"
    ${DoWhile} $2 != ""
      ${If} $2 != "."
      ${AndIf} $2 != ".."
        StrCpy $SecurityFailure "The folder $0 already holds other files. Choose a new or empty \
                                 folder: Setup makes it a folder that only administrators can \
                                 change."
        ${ExitDo}
      ${EndIf}
      FindNext $1 $2
    ${Loop}
    FindClose $1
    ${If} $SecurityFailure != ""
      Return
    ${EndIf}
  ${EndIf}

  CreateDirectory $0
  ; The two calls below use the registers.
  Push $3
  Call BuildFolderSecurity
  Call EnableTakeOwnership
  ${If} $FolderSecurity = 0
    Pop $3
    StrCpy $SecurityFailure "Setup cannot describe the security of its folder."
  ${Else}
    Call SecureTree
  ${EndIf}
  Call FreeFolderSecurity
FunctionEnd

Section "ZYN ID Utility"
  SetShellVarContext all
  ${If} ${IsNT}
    ; Before any file is laid out, so that each one inherits the folder's security; a driver is
    ; never laid out into a folder that users could change.
    Call SecureInstallFolder
    ${If} $SecurityFailure != ""
      DetailPrint $SecurityFailure
      MessageBox MB_OK|MB_ICONSTOP $SecurityFailure /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
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

; Windows installer for the Tavrilen Astrograph focuser driver.
;
; The shipped installer is a 32-bit program. On 64-bit Windows (x64) it
; installs and registers both builds of the driver, on 32-bit Windows only the
; 32-bit one. It needs the ASCOM Platform, through whose Chooser programs find
; the driver. The uninstaller takes out both builds and the driver's Chooser
; entry; it offers to keep the focuser settings for a later installation.
;
; The driver's profile key, where it keeps its settings, is opened to ordinary
; users (BUILTIN\Users may read it, set its values and create subkeys, which is
; all the driver asks for; that key only, nothing inherited by subkeys), so
; that its setup dialog saves without elevation. If that step fails, the
; installation still completes (the driver then reads its settings read-only,
; and only a program run as administrator can change them); the details list
; says why, and a silent install ends with exit code 5. The Start menu gets
; entries that turn the driver's trace log on and off (the "Trace" value in
; the profile key, set by FocuserTrace.exe) and open the log folder.
;
;   makensis -DOUTFILE=... -DDLL32=... -DDLL64=... -DTRACE_SWITCH=... -DPROFILE_TOOL=...
;            [-DSIM=...] [-DUSER_GUIDE=...]
;            [-DVERSION=1.2.3] [-DSIGN=COMMAND] [-DTARGET_AMD64 [-DSKIP_DLL32_REGISTRATION]]
;            TavrilenFocuser.nsi
;
; TRACE_SWITCH is FocuserTrace.exe of the installer's kind; PROFILE_TOOL is
; FocuserProfile.exe of the same kind, which does the work on the profile key
; for the installer and the uninstaller (installer/ProfileSetup.h) and is
; installed nowhere. USER_GUIDE is the
; guide as an HTML page. VERSION defaults to the 32-bit DLL's own. SIGN is a
; command that signs the file it is given in place (and takes --copy-to FILE):
; the uninstaller before it is packed, and the installer. TARGET_AMD64 builds
; the same installer as a 64-bit program, so
; that it can be exercised where only 64-bit Windows programs run.
; SKIP_DLL32_REGISTRATION (64-bit build only) installs the 32-bit DLL without
; registering it, for machines that cannot run 32-bit code at all.
;
; Command line (installer/README.md has the same):
;   setup /S                      silent install
;   Uninstall.exe /S              silent uninstall; removes the settings too
;   Uninstall.exe /S /KEEPSETTINGS  silent uninstall that keeps the settings
;   Uninstall.exe /S /LOG=FILE    also appends the uninstaller's own notes
;                                 (what it left and why) to FILE
; Exit codes:
;   0    done
;   1    cancelled by the user
;   2    a step failed (the details list says which)
;   3    the ASCOM Platform is missing (its Chooser is not registered)
;   4    the driver is in use by a running program (silent install only;
;        interactively the user is asked to close it and retry)
;   5    installed, but ordinary users cannot change the settings: the rights
;        on the profile key could not be set (the details list why)
;   6    a newer version of the driver is installed (silent install; interactively
;        the user is asked first); uninstall it to go back to this one
;   740  not run as administrator

!ifndef OUTFILE
  !error "OUTFILE must be defined"
!endif
!ifndef DLL32
  !error "DLL32 must be defined"
!endif
!ifndef DLL64
  !error "DLL64 must be defined"
!endif
!ifndef TRACE_SWITCH
  !error "TRACE_SWITCH must be defined"
!endif
!ifndef PROFILE_TOOL
  !error "PROFILE_TOOL must be defined"
!endif
!ifndef VERSION
  ; The version the DLL carries in its version resource.
  !getdllversion "${DLL32}" DLL_VERSION_
  !define VERSION "${DLL_VERSION_1}.${DLL_VERSION_2}.${DLL_VERSION_3}"
!endif
!ifdef SKIP_DLL32_REGISTRATION
  !ifndef TARGET_AMD64
    !error "SKIP_DLL32_REGISTRATION is only for the 64-bit build"
  !endif
!endif

Unicode true
!ifdef TARGET_AMD64
  Target amd64-unicode
!else
  Target x86-unicode
!endif
SetCompressor /SOLID lzma
; The files go in without their build times, so that two builds of one commit
; make the same installer; installed files get the time they are installed.
SetDateSave off
!ifdef SIGN
  ; The signed uninstaller is also kept beside the installer, for checking.
  !uninstfinalize '"${SIGN}" --copy-to "${OUTFILE}.uninstaller.exe" "%1"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif
ManifestSupportedOS all
RequestExecutionLevel admin

!include LogicLib.nsh
!include x64.nsh
!include MUI2.nsh
!include FileFunc.nsh
!include WordFunc.nsh

!define PRODUCT "Tavrilen Astrograph Focuser"
!define MAKER "Tavrilen Optics"
!define PROGID "Tavrilen.Focuser"
!define DLL32_NAME "TavrilenFocuser.dll"
!define DLL64_NAME "TavrilenFocuser64.dll"
!define SIM_NAME "FocuserSim.exe"
!define TRACE_SWITCH_NAME "FocuserTrace.exe"
!define PROFILE_TOOL_NAME "FocuserProfile.exe"
!define USER_GUIDE_NAME "User Guide.html"
!define UNINSTALLER_NAME "Uninstall.exe"
; The driver's profile: the ASCOM Chooser lists the subkeys of "Focuser Drivers"
; by their default values, and the driver keeps its settings here. Both builds
; of the driver use the 32-bit registry view.
!define PROFILE_KEY "Software\ASCOM\Focuser Drivers\${PROGID}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TavrilenFocuser"
; The platform's driver chooser, by the ProgID its COM class is registered
; under: what every program uses to let the user pick this driver. (The
; profile root Software\ASCOM proves nothing: this installer creates it too.)
!define PLATFORM_CHOOSER "ASCOM.Utilities.Chooser"
!define START_MENU_FOLDER "${PRODUCT}"
; Versions up to 1.1.0 put their entries under a shorter name; an upgrade
; moves them.
!define OLD_START_MENU_FOLDER "Tavrilen Focuser"

!define EXIT_FAILED 2
!define EXIT_NO_PLATFORM 3
!define EXIT_IN_USE 4
!define EXIT_SETTINGS_ADMIN_ONLY 5
!define EXIT_NEWER_INSTALLED 6
!define EXIT_NOT_ADMIN 740 ; ERROR_ELEVATION_REQUIRED

; Which regsvr32 runs which DLL: a DLL can only be loaded by a program of its
; own kind. A 32-bit process reaches the 64-bit system folder through Sysnative.
!ifdef TARGET_AMD64
  !define REGSVR32_FOR_DLL32 "$WINDIR\SysWOW64\regsvr32.exe"
  !define REGSVR32_FOR_DLL64 "$SYSDIR\regsvr32.exe"
!else
  !define REGSVR32_FOR_DLL32 "$SYSDIR\regsvr32.exe"
  !define REGSVR32_FOR_DLL64 "$WINDIR\Sysnative\regsvr32.exe"
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
!define INSTALL_FOLDER "${PRODUCT}"
!ifndef TARGET_AMD64
  InstallDir "$PROGRAMFILES32\${INSTALL_FOLDER}"
!endif
; An installation over an earlier one goes where that one went. The entry is
; in the installer's own registry view (the 32-bit one for the shipped build).
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT} driver"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} driver setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 ${MAKER}"
; A file that cannot be written is never skipped: the driver would be half new.
AllowSkipFiles off

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This installs the ${PRODUCT} driver, the ASCOM driver of the Tavrilen Astrograph's focuser, so that your astronomy programs can find it in the ASCOM Chooser.$\r$\n$\r$\nClose every astronomy program before you continue.$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "The driver is installed. Choose $\"Tavrilen$\" in the ASCOM Chooser of your astronomy program, then click Properties to set the COM port."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Runs regsvr32 silently on a DLL; $0 is left holding its exit code (0 on
; success). /u as ARGS unregisters.
!macro Regsvr32 EXE ARGS DLL
  DetailPrint "regsvr32 ${ARGS} $\"${DLL}$\""
  StrCpy $0 -1
  ClearErrors
  ExecWait '"${EXE}" /s ${ARGS} "${DLL}"' $0
  ${If} ${Errors}
    StrCpy $0 -1
  ${EndIf}
!macroend

!macro RegisterDll EXE DLL
  !insertmacro Regsvr32 "${EXE}" "" "${DLL}"
  ${If} $0 <> 0
    MessageBox MB_ICONSTOP|MB_OK "Could not register $\"${DLL}$\" (regsvr32 ended with $0)." /SD IDOK
    SetErrorLevel ${EXIT_FAILED}
    Abort "Could not register ${DLL}"
  ${EndIf}
!macroend

; Unregistration goes on past a failure, so that an uninstall always removes
; what it can: both builds share the ProgID keys, so the second one may find
; parts of its registration already gone.
!macro UnregisterDll EXE DLL
  ${If} ${FileExists} "${DLL}"
    !insertmacro Regsvr32 "${EXE}" "/u" "${DLL}"
    ${If} $0 <> 0
      DetailPrint "regsvr32 /u ended with $0 for $\"${DLL}$\""
    ${EndIf}
  ${EndIf}
!macroend

; 1 where the 64-bit DLL is installed: on x64 Windows.
Var Install64
; 1 when the uninstaller keeps the focuser settings.
Var KeepSettings
; The file named by the uninstaller's /LOG=, or "".
Var UninstallLog
; The files found in use, one to a line.
Var FilesInUse

; Adds FILE to $FilesInUse when a running program holds it: a loaded DLL or a
; running program cannot be opened for writing, whatever the sharing asked.
; (Access denied is not taken as in use: it may be the file's own rights, and
; the user would be asked to close programs in vain.)
!macro NoteIfInUse FILE
  ${If} ${FileExists} "${FILE}"
    System::Call 'kernel32::CreateFileW(w "${FILE}", i 0x40000000, i 0, p 0, i 3, i 0x80, p 0) p .r0 ?e'
    Pop $1
    ${If} $0 = -1
      ${If} $1 = 32     ; ERROR_SHARING_VIOLATION
      ${OrIf} $1 = 33   ; ERROR_LOCK_VIOLATION
        StrCpy $FilesInUse "$FilesInUse${FILE}$\r$\n"
      ${EndIf}
    ${Else}
      System::Call 'kernel32::CloseHandle(p r0)'
    ${EndIf}
  ${EndIf}
!macroend

; A Start-menu entry that switches the driver's trace log on or off (SWITCH).
!macro TraceShortcut NAME SWITCH DESCRIPTION
  CreateShortcut "$SMPROGRAMS\${START_MENU_FOLDER}\${NAME}" "$INSTDIR\${TRACE_SWITCH_NAME}" \
    "${SWITCH}" "" "" SW_SHOWNORMAL "" "${DESCRIPTION}"
!macroend

; The entries this installer makes in a Start-menu FOLDER, and the folder if
; they were all it held (a user's own entry there stays, and the folder too).
!macro DeleteStartMenuEntries FOLDER
  Delete "$SMPROGRAMS\${FOLDER}\Focuser User Guide.lnk"
  Delete "$SMPROGRAMS\${FOLDER}\Focuser Trace On.lnk"
  Delete "$SMPROGRAMS\${FOLDER}\Focuser Trace Off.lnk"
  Delete "$SMPROGRAMS\${FOLDER}\Focuser Trace Logs.lnk"
  RMDir "$SMPROGRAMS\${FOLDER}"
!macroend

; Before any file is replaced: while a program holds the driver, the user is
; asked to close it and retry (a silent install ends with EXIT_IN_USE).
Function WaitUntilNotInUse
  ${Do}
    StrCpy $FilesInUse ""
    !insertmacro NoteIfInUse "$INSTDIR\${DLL32_NAME}"
    !insertmacro NoteIfInUse "$INSTDIR\${DLL64_NAME}"
    !insertmacro NoteIfInUse "$INSTDIR\${SIM_NAME}"
    ${If} $FilesInUse == ""
      Return
    ${EndIf}
    DetailPrint "In use by a running program: $FilesInUse"
    MessageBox MB_ICONEXCLAMATION|MB_RETRYCANCEL "The focuser driver is in use by a program that is still running:$\r$\n$\r$\n$FilesInUse$\r$\nClose your astronomy programs (imaging, planetarium, guiding, focusing, observatory control and hub programs, and the focuser simulator), then click Retry." /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_IN_USE}
    Abort "The driver is in use: close your astronomy programs and run this setup again."
    retry:
  ${Loop}
FunctionEnd

Function .onInit
  !ifdef TARGET_AMD64
    SetRegView 64
    StrCpy $Install64 1
    ; The same folder as the shipped installer's, which a 64-bit installer's
    ; $PROGRAMFILES32 does not name.
    ${If} $INSTDIR == ""
      ReadEnvStr $0 "ProgramFiles(x86)"
      StrCpy $INSTDIR "$0\${INSTALL_FOLDER}"
    ${EndIf}
  !else
    SetRegView 32
    StrCpy $Install64 0
    ${If} ${IsNativeAMD64}
      StrCpy $Install64 1
    ${EndIf}
  !endif
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP|MB_OK "Installing the driver needs administrator rights." /SD IDOK
    SetErrorLevel ${EXIT_NOT_ADMIN}
    Quit
  ${EndIf}

  ClearErrors
  ReadRegStr $0 HKCR "${PLATFORM_CHOOSER}\CLSID" ""
  ${If} ${Errors}
  ${OrIf} $0 == ""
    MessageBox MB_ICONSTOP|MB_OK "The ASCOM Platform is not installed on this computer.$\r$\n$\r$\nYour astronomy programs find this driver through the ASCOM Chooser, which comes with the ASCOM Platform, and the Chooser was not found (no $\"${PLATFORM_CHOOSER}$\" is registered).$\r$\n$\r$\nInstall the ASCOM Platform first, then run this setup again." /SD IDOK
    SetErrorLevel ${EXIT_NO_PLATFORM}
    Quit
  ${EndIf}

  ; Going back to an older version is the user's choice, never a silent one:
  ; the older driver may not read what the newer one stored.
  ClearErrors
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${IfNot} ${Errors}
  ${AndIf} $0 != ""
    ${VersionCompare} "$0" "${VERSION}" $1
    ${If} $1 = 1
      MessageBox MB_ICONEXCLAMATION|MB_YESNO|MB_DEFBUTTON2 "Version $0 of the driver is installed, which is newer than this setup's version ${VERSION}.$\r$\n$\r$\nReplace it with the older version ${VERSION}?" /SD IDNO IDYES downgrade
      SetErrorLevel ${EXIT_NEWER_INSTALLED}
      Quit
      downgrade:
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  !ifdef TARGET_AMD64
    SetRegView 64
  !else
    SetRegView 32
  !endif
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP|MB_OK "Removing the driver needs administrator rights." /SD IDOK
    SetErrorLevel ${EXIT_NOT_ADMIN}
    Quit
  ${EndIf}
  StrCpy $KeepSettings 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/KEEPSETTINGS" $1
  ${IfNot} ${Errors}
    StrCpy $KeepSettings 1
  ${EndIf}
  StrCpy $UninstallLog ""
  ClearErrors
  ${GetOptions} $0 "/LOG=" $1
  ${IfNot} ${Errors}
    StrCpy $UninstallLog $1
  ${EndIf}
FunctionEnd

; A line for the details list, which a silent uninstall shows nobody, so it
; goes to the /LOG= file too.
!macro UninstallNote TEXT
  DetailPrint "${TEXT}"
  Push "${TEXT}"
  Call un.AppendToLog
!macroend

Function un.AppendToLog
  Exch $0
  Push $1
  Push $2
  ${If} $UninstallLog != ""
    ClearErrors
    FileOpen $1 $UninstallLog a
    ${IfNot} ${Errors}
      FileSeek $1 0 END $2
      ${If} $2 = 0
        FileWriteWord $1 0xFEFF ; a new file: the mark of UTF-16LE text
      ${EndIf}
      FileWriteUTF16LE $1 "$0$\r$\n"
      FileClose $1
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Runs FocuserProfile.exe, from the plug-ins folder, with ARGS. $0 is left
; holding its exit code ("error" when it could not be started), $1 the lines
; it wrote for the details list.
!macro RunProfileTool ARGS
  InitPluginsDir
  File "/oname=$PLUGINSDIR\${PROFILE_TOOL_NAME}" "${PROFILE_TOOL}"
  nsExec::ExecToStack '"$PLUGINSDIR\${PROFILE_TOOL_NAME}" ${ARGS}'
  Pop $0
  Pop $1
!macroend

Section "Driver" SecDriver
  SectionIn RO
  Call WaitUntilNotInUse
  SetOutPath "$INSTDIR"
  File "/oname=${DLL32_NAME}" "${DLL32}"
  ${If} $Install64 = 1
    File "/oname=${DLL64_NAME}" "${DLL64}"
  ${EndIf}
  !ifdef SIM
    File "/oname=${SIM_NAME}" "${SIM}"
  !endif
  File "/oname=${TRACE_SWITCH_NAME}" "${TRACE_SWITCH}"
  !ifdef USER_GUIDE
    File "/oname=${USER_GUIDE_NAME}" "${USER_GUIDE}"
  !endif
  Delete "$INSTDIR\User Guide.md"  ; the guide's form before 1.0

  ; The uninstaller comes first, so that a registration that fails below
  ; leaves an installation that can still be removed.
  WriteUninstaller "$INSTDIR\${UNINSTALLER_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} driver"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER_NAME}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER_NAME}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${UNINSTALLER_NAME},0"
  !ifdef USER_GUIDE
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Readme" "$INSTDIR\${USER_GUIDE_NAME}"
  !endif
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; The Start-menu entries are for every user. The guide opens in the browser.
  SetShellVarContext all
  !insertmacro DeleteStartMenuEntries "${OLD_START_MENU_FOLDER}"
  CreateDirectory "$SMPROGRAMS\${START_MENU_FOLDER}"
  !ifdef USER_GUIDE
    CreateShortcut "$SMPROGRAMS\${START_MENU_FOLDER}\Focuser User Guide.lnk" "$INSTDIR\${USER_GUIDE_NAME}"
  !endif
  ; The trace switch needs no elevation, since users may set values in the
  ; profile key (below).
  !insertmacro TraceShortcut "Focuser Trace On.lnk" on "Turns on the focuser driver's trace log"
  !insertmacro TraceShortcut "Focuser Trace Off.lnk" off "Turns off the focuser driver's trace log"
  ; The log folders ("Logs YYYY-MM-DD") are in each user's own Documents.
  CreateShortcut "$SMPROGRAMS\${START_MENU_FOLDER}\Focuser Trace Logs.lnk" "$WINDIR\explorer.exe" \
    "shell:Personal\ASCOM" "" "" SW_SHOWNORMAL "" "Opens the folder of the focuser driver's trace logs"

  ; The profile key must exist before registration, which only names an
  ; existing key ("Tavrilen", which the Chooser shows). FocuserProfile.exe
  ; makes it (a link in its place goes, and nothing it points at is touched),
  ; moves back the settings an earlier uninstall kept and closes the key to
  ; all that users may not do, through one handle to the key.
  !insertmacro RunProfileTool install
  DetailPrint "$1"
  ${If} $0 == 5
    ; Not fatal: the driver still reads its settings, and only a program run
    ; as administrator can change them.
    MessageBox MB_ICONEXCLAMATION|MB_OK "The driver is installed, but ordinary users could not be given the right to change its settings:$\r$\n$\r$\n$1$\r$\n$\r$\nThe driver works. Its settings can be changed only from a program run as administrator." /SD IDOK
    SetErrorLevel ${EXIT_SETTINGS_ADMIN_ONLY}
  ${ElseIf} $0 != 0
    MessageBox MB_ICONSTOP|MB_OK "Could not set up the driver's profile key HKLM\${PROFILE_KEY} (${PROFILE_TOOL_NAME} ended with $0):$\r$\n$\r$\n$1" /SD IDOK
    SetErrorLevel ${EXIT_FAILED}
    Abort "Could not set up the profile key"
  ${EndIf}

  !ifndef SKIP_DLL32_REGISTRATION
    !insertmacro RegisterDll "${REGSVR32_FOR_DLL32}" "$INSTDIR\${DLL32_NAME}"
  !else
    DetailPrint "Not registering $\"$INSTDIR\${DLL32_NAME}$\" (this build leaves it unregistered)"
  !endif
  ${If} $Install64 = 1
    !insertmacro RegisterDll "${REGSVR32_FOR_DLL64}" "$INSTDIR\${DLL64_NAME}"
  ${EndIf}
SectionEnd

Section "Uninstall"
  ${IfNot} ${Silent}
    MessageBox MB_ICONQUESTION|MB_YESNO "Keep your focuser settings (COM port, speed, step size and maximum position) for a later installation of the driver?" IDNO +2
    StrCpy $KeepSettings 1
  ${EndIf}

  ; The 64-bit DLL's file exists only where it was installed.
  !insertmacro UnregisterDll "${REGSVR32_FOR_DLL64}" "$INSTDIR\${DLL64_NAME}"
  !ifndef SKIP_DLL32_REGISTRATION
    !insertmacro UnregisterDll "${REGSVR32_FOR_DLL32}" "$INSTDIR\${DLL32_NAME}"
  !endif

  ; The profile key is the driver's entry in the Chooser: its name, the
  ; driver's values and then the key itself go, so that no program offers a
  ; driver that is gone; kept settings wait outside the Chooser's list. Only
  ; the key itself: a subkey a user made (a registry link, say) stays, and the
  ; key with it. All through one handle to the key, never by its path again.
  StrCpy $2 "uninstall"
  ${If} $KeepSettings = 1
    StrCpy $2 "uninstall keep"
  ${EndIf}
  !insertmacro RunProfileTool $2
  ${If} $1 != ""
    !insertmacro UninstallNote "$1"
  ${EndIf}
  ${If} $0 != 0
    !insertmacro UninstallNote "${PROFILE_TOOL_NAME} ended with $0"
  ${EndIf}

  SetShellVarContext all
  !insertmacro DeleteStartMenuEntries "${START_MENU_FOLDER}"

  ; A program that still has a DLL loaded keeps the file until the next restart.
  Delete /REBOOTOK "$INSTDIR\${DLL64_NAME}"
  Delete /REBOOTOK "$INSTDIR\${DLL32_NAME}"
  Delete /REBOOTOK "$INSTDIR\${SIM_NAME}"
  Delete "$INSTDIR\${TRACE_SWITCH_NAME}"
  Delete "$INSTDIR\${USER_GUIDE_NAME}"
  Delete "$INSTDIR\${UNINSTALLER_NAME}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  RMDir /REBOOTOK "$INSTDIR"
SectionEnd

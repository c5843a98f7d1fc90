; Windows installer for the Tavrilen Astrograph focuser driver.
;
; The shipped installer is a 32-bit program. On 64-bit Windows (x64) it
; installs and registers both builds of the driver, on 32-bit Windows only the
; 32-bit one; the uninstaller takes out both and keeps the user's settings.
;
;   makensis -DOUTFILE=... -DDLL32=... -DDLL64=... [-DSIM=...] [-DUSER_GUIDE=...]
;            [-DVERSION=1.2.3] [-DTARGET_AMD64 [-DSKIP_DLL32_REGISTRATION]]
;            TavrilenFocuser.nsi
;
; TARGET_AMD64 builds the same installer as a 64-bit program, so that it can
; be exercised where only 64-bit Windows programs run. SKIP_DLL32_REGISTRATION
; (64-bit build only) installs the 32-bit DLL without registering it, for
; machines that cannot run 32-bit code at all.

!ifndef OUTFILE
  !error "OUTFILE must be defined"
!endif
!ifndef DLL32
  !error "DLL32 must be defined"
!endif
!ifndef DLL64
  !error "DLL64 must be defined"
!endif
!ifndef VERSION
  !define VERSION 1.0.0
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
ManifestSupportedOS all
RequestExecutionLevel admin

!include LogicLib.nsh
!include x64.nsh
!include MUI2.nsh

!define PRODUCT "Tavrilen Astrograph Focuser"
!define PROGID "Tavrilen.Focuser"
!define DLL32_NAME "TavrilenFocuser.dll"
!define DLL64_NAME "TavrilenFocuser64.dll"
!define SIM_NAME "FocuserSim.exe"
!define USER_GUIDE_NAME "User Guide.md"
!define UNINSTALLER_NAME "Uninstall.exe"
; The driver's profile: the ASCOM Chooser lists the subkeys of "Focuser Drivers"
; by their default values, and the driver keeps its settings here. Both builds
; of the driver use the 32-bit registry view.
!define PROFILE_KEY "Software\ASCOM\Focuser Drivers\${PROGID}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TavrilenFocuser"

; Which regsvr32 runs which DLL: a DLL can only be loaded by a program of its
; own kind. A 32-bit process reaches the 64-bit system folder through Sysnative.
!ifdef TARGET_AMD64
  !define REGSVR32_FOR_DLL32 "$WINDIR\SysWOW64\regsvr32.exe"
  !define REGSVR32_FOR_DLL64 "$SYSDIR\regsvr32.exe"
!else
  !define REGSVR32_FOR_DLL32 "$SYSDIR\regsvr32.exe"
  !define REGSVR32_FOR_DLL64 "$WINDIR\Sysnative\regsvr32.exe"
!endif

; For advapi32 through the System plug-in: HKEY_LOCAL_MACHINE (sign-extended
; for 64-bit code), KEY_READ | KEY_WRITE | KEY_WOW64_32KEY.
!define HKLM_HANDLE -2147483646
!define PROFILE_KEY_ACCESS 0x2021F

Name "${PRODUCT}"
OutFile "${OUTFILE}"
!define INSTALL_FOLDER "Tavrilen Focuser"
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
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT} driver"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} driver setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" ""

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This installs the ASCOM focuser driver for the Tavrilen Astrograph, so that your astronomy programs can find it in the ASCOM Chooser.$\r$\n$\r$\nClose every astronomy program before you continue.$\r$\n$\r$\n$_CLICK"
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
    SetErrorLevel 2
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
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
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
    SetErrorLevel 740
    Quit
  ${EndIf}
FunctionEnd

Section "Driver" SecDriver
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=${DLL32_NAME}" "${DLL32}"
  ${If} $Install64 = 1
    File "/oname=${DLL64_NAME}" "${DLL64}"
  ${EndIf}
  !ifdef SIM
    File "/oname=${SIM_NAME}" "${SIM}"
  !endif
  !ifdef USER_GUIDE
    File "/oname=${USER_GUIDE_NAME}" "${USER_GUIDE}"
  !endif

  ; The uninstaller comes first, so that a registration that fails below
  ; leaves an installation that can still be removed.
  WriteUninstaller "$INSTDIR\${UNINSTALLER_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} driver"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tavrilen"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER_NAME}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER_NAME}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The profile key must exist before registration: registration only names
  ; an existing key ("Tavrilen", which the Chooser shows) and never creates it.
  ; Opening an existing key leaves the user's settings in it untouched.
  System::Call 'advapi32::RegCreateKeyExW(p ${HKLM_HANDLE}, w "${PROFILE_KEY}", i 0, p 0, i 0, i ${PROFILE_KEY_ACCESS}, p 0, *p .r1, p 0) i .r0'
  ${If} $0 <> 0
    MessageBox MB_ICONSTOP|MB_OK "Could not create the driver's profile key HKLM\${PROFILE_KEY} (error $0)." /SD IDOK
    SetErrorLevel 2
    Abort "Could not create the profile key"
  ${EndIf}
  System::Call 'advapi32::RegCloseKey(p r1)'

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
  ; The 64-bit DLL's file exists only where it was installed.
  !insertmacro UnregisterDll "${REGSVR32_FOR_DLL64}" "$INSTDIR\${DLL64_NAME}"
  !ifndef SKIP_DLL32_REGISTRATION
    !insertmacro UnregisterDll "${REGSVR32_FOR_DLL32}" "$INSTDIR\${DLL32_NAME}"
  !endif

  ; A program that still has a DLL loaded keeps the file until the next restart.
  Delete /REBOOTOK "$INSTDIR\${DLL64_NAME}"
  Delete /REBOOTOK "$INSTDIR\${DLL32_NAME}"
  Delete /REBOOTOK "$INSTDIR\${SIM_NAME}"
  Delete "$INSTDIR\${USER_GUIDE_NAME}"
  Delete "$INSTDIR\${UNINSTALLER_NAME}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The profile key and the settings in it stay, so that a later installation
  ; finds the user's port, speed, step size and maximum as they were left.
  RMDir /REBOOTOK "$INSTDIR"
SectionEnd

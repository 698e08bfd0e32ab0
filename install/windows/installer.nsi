; The Windows installer of the J2534 library: vtxpts-setup-VERSION.exe.
;
;   makensis /DVERSION=2.3.0.0 [/DDLL32=vtxpts32.dll] [/DDLL64=vtxpts64.dll] /DPTCAN=ptcan.exe
;            /DOUTFILE=vtxpts-setup-2.3.0.0.exe installer.nsi
;
; scripts/package-windows.sh runs it with the files of the mingw and mingw64 builds. It installs
; the libraries it is given, ptcan.exe, the driver-package INFs and a README into one folder and
; registers each library for the J2534 applications of its width: vtxpts64.dll in the 64-bit
; registry view, vtxpts32.dll in the 32-bit one (SOFTWARE\WOW6432Node on 64-bit Windows). With
; the 64-bit library it is a 64-bit installer, for 64-bit Windows; with only the 32-bit library a
; 32-bit one that installs into Program Files (x86) on 64-bit Windows.
;
; Silent install: /S; another folder: /D=C:\Path (last on the command line, unquoted). The
; uninstaller removes the files and values the installer wrote, and the keys and folders only
; when nothing else is left in them; an EnableLog value that was there before stays.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION
    !error "VERSION is not defined: makensis /DVERSION=x.y.z.w"
!endif
!ifndef PTCAN
    !error "PTCAN is not defined: the path of ptcan.exe"
!endif
!ifndef OUTFILE
    !define OUTFILE "vtxpts-setup-${VERSION}.exe"
!endif
!ifdef DLL64
    Target amd64-unicode
    InstallDir "$PROGRAMFILES64\VTX\J2534"
!else ifdef DLL32
    Target x86-unicode
    InstallDir "$PROGRAMFILES32\VTX\J2534"
!else
    !error "neither DLL32 nor DLL64 is defined: no library to install"
!endif

!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "VTX J2534 Pass-Thru"
!define DEVICE_KEY "SOFTWARE\PassThruSupport.04.04\Vantrix - J2534"
!define SUPPORT_KEY "SOFTWARE\PassThruSupport.04.04"
!define UNINSTALL_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\VTX J2534"
; The uninstall record's values that remember what the installer created itself:
; VtxCreatedEnableLog32 and VtxCreatedEnableLog64 an EnableLog value, VtxCreatedParent the folder
; above the installation folder.

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "VTX"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) VTX"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The protocols of J2534-1 version 04.04 a device can announce, and which this one supports.
!macro WriteProtocols
    WriteRegDWORD HKLM "${DEVICE_KEY}" "J1850VPW" 0
    WriteRegDWORD HKLM "${DEVICE_KEY}" "J1850PWM" 0
    WriteRegDWORD HKLM "${DEVICE_KEY}" "ISO9141" 0
    WriteRegDWORD HKLM "${DEVICE_KEY}" "ISO14230" 0
    WriteRegDWORD HKLM "${DEVICE_KEY}" "CAN" 1
    WriteRegDWORD HKLM "${DEVICE_KEY}" "ISO15765" 1
    WriteRegDWORD HKLM "${DEVICE_KEY}" "SCI_A_ENGINE" 0
    WriteRegDWORD HKLM "${DEVICE_KEY}" "SCI_A_TRANS" 0
    WriteRegDWORD HKLM "${DEVICE_KEY}" "SCI_B_ENGINE" 0
    WriteRegDWORD HKLM "${DEVICE_KEY}" "SCI_B_TRANS" 0
!macroend

; The device key in the registry view VIEW (32 or 64) naming the library FILE of the
; installation folder. EnableLog, the library's trace switch, is written (off) only where there
; is none yet; the uninstall record remembers that it was created here.
!macro RegisterDevice VIEW FILE
    SetRegView ${VIEW}
    WriteRegStr HKLM "${DEVICE_KEY}" "Name" "VTX USB-to-CAN Pass-Thru"
    WriteRegStr HKLM "${DEVICE_KEY}" "Vendor" "VTX"
    WriteRegStr HKLM "${DEVICE_KEY}" "FunctionLibrary" "$INSTDIR\${FILE}"
    WriteRegStr HKLM "${DEVICE_KEY}" "ConfigApplication" ""
    !insertmacro WriteProtocols
    ; Absent: an empty result with the error flag (a value of another type sets the flag too,
    ; but comes with its text).
    ClearErrors
    ReadRegStr $0 HKLM "${DEVICE_KEY}" "EnableLog"
    ${If} ${Errors}
    ${AndIf} $0 == ""
        WriteRegDWORD HKLM "${DEVICE_KEY}" "EnableLog" 0
        StrCpy $1 1
    ${Else}
        StrCpy $1 0
    ${EndIf}
    !insertmacro UseInstallerView
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VtxCreatedEnableLog${VIEW}" $1
!macroend

; Removes what RegisterDevice wrote in the view VIEW; the keys go only when they are left empty.
!macro UnregisterDevice VIEW
    !insertmacro UseInstallerView
    ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "VtxCreatedEnableLog${VIEW}"
    SetRegView ${VIEW}
    ${If} $1 == 1
        DeleteRegValue HKLM "${DEVICE_KEY}" "EnableLog"
    ${EndIf}
    !insertmacro DeleteDeviceValues
    DeleteRegKey /ifempty /ifnovalues HKLM "${DEVICE_KEY}"
    DeleteRegKey /ifempty /ifnovalues HKLM "${SUPPORT_KEY}"
    !insertmacro UseInstallerView
!macroend

!macro DeleteDeviceValues
    !insertmacro DeleteDeviceValue "Name"
    !insertmacro DeleteDeviceValue "Vendor"
    !insertmacro DeleteDeviceValue "FunctionLibrary"
    !insertmacro DeleteDeviceValue "ConfigApplication"
    !insertmacro DeleteDeviceValue "J1850VPW"
    !insertmacro DeleteDeviceValue "J1850PWM"
    !insertmacro DeleteDeviceValue "ISO9141"
    !insertmacro DeleteDeviceValue "ISO14230"
    !insertmacro DeleteDeviceValue "CAN"
    !insertmacro DeleteDeviceValue "ISO15765"
    !insertmacro DeleteDeviceValue "SCI_A_ENGINE"
    !insertmacro DeleteDeviceValue "SCI_A_TRANS"
    !insertmacro DeleteDeviceValue "SCI_B_ENGINE"
    !insertmacro DeleteDeviceValue "SCI_B_TRANS"
!macroend

!macro DeleteDeviceValue NAME
    DeleteRegValue HKLM "${DEVICE_KEY}" "${NAME}"
!macroend

; The uninstall record lives in the installer's own view: 64-bit for the 64-bit installer.
!macro UseInstallerView
    !ifdef DLL64
        SetRegView 64
    !else
        SetRegView 32
    !endif
!macroend

Section "Install"
    ; Whether the folder above the installation folder is there yet (C:\Program Files\VTX).
    ${GetParent} "$INSTDIR" $2
    ${If} ${FileExists} "$2\*.*"
        StrCpy $3 0
    ${Else}
        StrCpy $3 1
    ${EndIf}
    SetOutPath "$INSTDIR"
    !ifdef DLL32
        File "/oname=vtxpts32.dll" "${DLL32}"
    !endif
    !ifdef DLL64
        File "/oname=vtxpts64.dll" "${DLL64}"
    !endif
    File "/oname=ptcan.exe" "${PTCAN}"
    File "/oname=README.txt" "${__FILEDIR__}\README.md"
    SetOutPath "$INSTDIR\drivers"
    File "${__FILEDIR__}\vtxwinusbcan.inf"
    File "${__FILEDIR__}\vtxusbcan.inf"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    !insertmacro UseInstallerView
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "VTX"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VtxCreatedParent" $3

    !ifdef DLL32
        !insertmacro RegisterDevice 32 vtxpts32.dll
    !endif
    !ifdef DLL64
        !insertmacro RegisterDevice 64 vtxpts64.dll
    !endif
SectionEnd

Section "Uninstall"
    !ifdef DLL32
        !insertmacro UnregisterDevice 32
    !endif
    !ifdef DLL64
        !insertmacro UnregisterDevice 64
    !endif
    ReadRegDWORD $3 HKLM "${UNINSTALL_KEY}" "VtxCreatedParent"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"

    !ifdef DLL32
        Delete "$INSTDIR\vtxpts32.dll"
    !endif
    !ifdef DLL64
        Delete "$INSTDIR\vtxpts64.dll"
    !endif
    Delete "$INSTDIR\ptcan.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\drivers\vtxwinusbcan.inf"
    Delete "$INSTDIR\drivers\vtxusbcan.inf"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR\drivers"
    RMDir "$INSTDIR"
    ${If} $3 == 1
        ${GetParent} "$INSTDIR" $2
        RMDir "$2"
    ${EndIf}
SectionEnd

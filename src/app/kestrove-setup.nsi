; The Windows setup, kestrove-<version>-setup.exe, made with NSIS by scripts/package-windows
; (scripts/lib/windows-setup.sh). It installs the program for the current user without
; administrator rights, into %LOCALAPPDATA%\Programs\Kestrove, or for every user of the computer
; into Program Files, which needs them. It adds a Start-menu shortcut, a desktop shortcut if
; asked, and the entry in "Apps" with an uninstaller.
;
; Given by the caller with -D (makensis's /D):
;   VERSION       the version, four numbers (project(VERSION) in CMakeLists.txt)
;   DESCRIPTION   the program's description (project(DESCRIPTION))
;   PAYLOAD       the generated include that names the files to install: the macros
;                 InstallPayload (File commands) and RemovePayload (Delete commands)
;   ICON          the program's icon (.ico)
;   WIZARD_IMAGE  the picture beside the first and last pages (164x314, 24-bit BMP)
;   OUTFILE       the setup to write
;
; Command line of the setup, besides NSIS's own /S (quiet) and /D=<folder> (last):
;   /CURRENTUSER       for the current user: the default, unless the setup has administrator
;                      rights and finds Kestrove installed for all users only
;   /ALLUSERS          for all users: needs administrator rights, else a quiet setup ends with
;                      exit code 740 and an interactive one asks for them
;   /DESKTOPSHORTCUT   also a shortcut on the desktop (otherwise kept as an earlier install had it)
; The uninstaller run quietly (/S) keeps the password's digest; run interactively it asks.
; A running Kestrove is never replaced: the setup and the uninstaller ask to quit it first, and
; run quietly they end with exit code 2.

Unicode true
; The program is 64-bit only, and so is its setup.
Target amd64-unicode
ManifestDPIAware true
; Not "highest": an administrator would be asked for elevation even to install just for himself.
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include WinMessages.nsh
!include "${PAYLOAD}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrove"
; The program's one setting, the password's digest.
!define SETTING_KEY "Software\Brannoc\Kestrove"
!define SETTING_VALUE "Key"
!define PROGRAM "kestrove.exe"
!define UNINSTALLER "uninstall.exe"
!define SHORTCUT "Kestrove.lnk"
!define ERROR_ELEVATION_REQUIRED 740

Name "Kestrove"
OutFile "${OUTFILE}"
; Only for the folder dialog, which appends "Kestrove" to a chosen folder; the folder itself is
; set by SelectMode unless /D= gives one.
InstallDir "$LOCALAPPDATA\Programs\Kestrove"
BrandingText "Kestrove ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

Var IsAdmin       ; 1 when the setup runs with administrator rights
Var AllUsers      ; 1 to install for all users
Var WantDesktop   ; 1 for a desktop shortcut
Var GivenDir      ; 1 when /D= named the folder
Var ModeDialog
Var ModeAllUsers
Var ModeCurrentUser
Var ModeDesktop

; ---- Pages ----
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${WIZARD_IMAGE}"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${WIZARD_IMAGE}"
!define MUI_CUSTOMFUNCTION_GUIINIT WidenButtons
!define MUI_CUSTOMFUNCTION_UNGUIINIT un.WidenButtons
!define MUI_ABORTWARNING
!define MUI_ABORTWARNING_TEXT "确实要退出 Kestrove 安装程序吗？$\r$\nDo you really want to quit the Kestrove setup?"
!define MUI_ABORTWARNING_CANCEL_DEFAULT

!define MUI_PAGE_CUSTOMFUNCTION_PRE WelcomePre
!define MUI_WELCOMEPAGE_TITLE "欢迎安装 Kestrove ${VERSION}$\r$\nWelcome to Kestrove ${VERSION}"
!define MUI_WELCOMEPAGE_TITLE_3LINES
!define MUI_WELCOMEPAGE_TEXT "Kestrove 是${DESCRIPTION}把文件或目录拖到它的窗口上即可加密或解密。$\r$\n\
$\r$\nKestrove encrypts and decrypts files: drop files or folders onto its window.$\r$\n\
$\r$\n点击“下一步”继续。$\r$\nClick Next to continue."
!insertmacro MUI_PAGE_WELCOME

Page custom ModePageShow ModePageLeave

!define MUI_PAGE_HEADER_TEXT "选择安装位置  Choose the folder"
!define MUI_PAGE_HEADER_SUBTEXT "Kestrove 将安装到这个文件夹。$\r$\nKestrove will be installed in this folder."
!define MUI_DIRECTORYPAGE_TEXT_TOP "安装程序将把 Kestrove 安装到下面的文件夹。要安装到其他文件夹，请点击“浏览”。$\r$\n\
Setup will install Kestrove in the folder below. To install it elsewhere, click Browse."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "安装文件夹  Destination folder"
!insertmacro MUI_PAGE_DIRECTORY

!define MUI_PAGE_HEADER_TEXT "正在安装  Installing"
!define MUI_PAGE_HEADER_SUBTEXT "正在安装 Kestrove，请稍候。$\r$\nKestrove is being installed, please wait."
!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "安装完成  Installation complete"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "Kestrove 已经安装好了。$\r$\nKestrove has been installed."
!define MUI_INSTFILESPAGE_ABORTHEADER_TEXT "安装中止  Installation aborted"
!define MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "安装程序没有完成安装。$\r$\nSetup did not finish the installation."
!insertmacro MUI_PAGE_INSTFILES
; MUI2 of NSIS 3.08 leaves these two defined after the page.
!undef MUI_INSTFILESPAGE_ABORTHEADER_TEXT
!undef MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT

!define MUI_FINISHPAGE_TITLE "Kestrove 安装完成$\r$\nKestrove is installed"
!define MUI_FINISHPAGE_TITLE_3LINES
!define MUI_FINISHPAGE_TEXT "在“开始”菜单中可以找到 Kestrove。可以在“设置”的“应用”中卸载它。$\r$\n\
$\r$\nYou find Kestrove in the Start menu. To remove it, use Apps in the Settings."
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"
!define MUI_FINISHPAGE_RUN_TEXT "现在运行 Kestrove  &Run Kestrove now"
!define MUI_FINISHPAGE_BUTTON "完成 &Finish"
!insertmacro MUI_PAGE_FINISH

!define MUI_PAGE_HEADER_TEXT "卸载 Kestrove  Uninstall Kestrove"
!define MUI_PAGE_HEADER_SUBTEXT "从这台电脑上删除 Kestrove。$\r$\nRemove Kestrove from this computer."
!define MUI_UNCONFIRMPAGE_TEXT_TOP "将从下面的文件夹中卸载 Kestrove，同时删除它的快捷方式。加密过的文件保持原样。$\r$\n\
Kestrove will be removed from the folder below, with its shortcuts. Encrypted files stay as they are."
!define MUI_UNCONFIRMPAGE_TEXT_LOCATION "卸载位置  Folder"
!insertmacro MUI_UNPAGE_CONFIRM

!define MUI_PAGE_HEADER_TEXT "正在卸载  Uninstalling"
!define MUI_PAGE_HEADER_SUBTEXT "正在卸载 Kestrove，请稍候。$\r$\nKestrove is being removed, please wait."
!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "卸载完成  Uninstall complete"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "Kestrove 已经卸载了。$\r$\nKestrove has been removed."
!define MUI_INSTFILESPAGE_ABORTHEADER_TEXT "卸载中止  Uninstall aborted"
!define MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "卸载程序没有完成卸载。$\r$\nThe uninstaller did not finish."
!insertmacro MUI_UNPAGE_INSTFILES

!define MUI_FINISHPAGE_TITLE "Kestrove 卸载完成$\r$\nKestrove has been removed"
!define MUI_FINISHPAGE_TITLE_3LINES
!define MUI_FINISHPAGE_TEXT "Kestrove 已经从这台电脑上删除。$\r$\n\
$\r$\nKestrove has been removed from this computer.$\r$\n\
$\r$\n点击“完成”关闭卸载程序。$\r$\nClick Finish to close the uninstaller."
!define MUI_FINISHPAGE_BUTTON "完成 &Finish"
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "SimpChinese"

; ---- Texts: Chinese, the program's language, with English beside it ----
Caption "Kestrove ${VERSION} 安装程序  Setup"
UninstallCaption "Kestrove 卸载程序  Uninstall"
LangString ^BackBtn ${LANG_SIMPCHINESE} "< 上一步 &Back"
LangString ^NextBtn ${LANG_SIMPCHINESE} "下一步 &Next >"
LangString ^CancelBtn ${LANG_SIMPCHINESE} "取消 Cancel"
LangString ^CloseBtn ${LANG_SIMPCHINESE} "关闭 C&lose"
LangString ^InstallBtn ${LANG_SIMPCHINESE} "安装 &Install"
LangString ^UninstallBtn ${LANG_SIMPCHINESE} "卸载 &Uninstall"
LangString ^BrowseBtn ${LANG_SIMPCHINESE} "浏览 B&rowse..."
LangString ^SpaceRequired ${LANG_SIMPCHINESE} "所需空间 Space required: "
LangString ^SpaceAvailable ${LANG_SIMPCHINESE} "可用空间 Space available: "
LangString ^DirBrowseText ${LANG_SIMPCHINESE} "选择安装 Kestrove 的文件夹：$\r$\nChoose the folder to install Kestrove in:"

LangString ModeTitle ${LANG_SIMPCHINESE} "安装选项  Options"
LangString ModeSubtitle ${LANG_SIMPCHINESE} "为谁安装，是否要桌面快捷方式。$\r$\nWho to install Kestrove for, and a desktop shortcut."
LangString ModeCurrentUser ${LANG_SIMPCHINESE} "只为我安装（不需要管理员权限）$\r$\n&Just for me (no administrator rights needed)"
LangString ModeAllUsers ${LANG_SIMPCHINESE} "为这台电脑的所有用户安装（需要管理员权限）$\r$\nFor &everyone on this computer (needs administrator rights)"
LangString ModeDesktop ${LANG_SIMPCHINESE} "在桌面上创建快捷方式$\r$\nCreate a &desktop shortcut"
LangString ModeNote ${LANG_SIMPCHINESE} "“开始”菜单中总会有 Kestrove 的快捷方式。$\r$\nKestrove always gets a shortcut in the Start menu."
LangString NoElevation ${LANG_SIMPCHINESE} "没有取得管理员权限，无法为所有用户安装或卸载。$\r$\n$\r$\n\
Without administrator rights Kestrove cannot be installed or removed for all users."
LangString Running ${LANG_SIMPCHINESE} "Kestrove 正在运行。请先退出它（点它窗口右上角的红叉），然后点“重试”。$\r$\n$\r$\n\
Kestrove is running. Please quit it first (the red cross at the top right of its window), then click Retry."
LangString EarlierFailed ${LANG_SIMPCHINESE} "无法卸载已安装的 Kestrove（$0）。$\r$\n$\r$\n\
The installed Kestrove could not be removed ($0)."
LangString Forget ${LANG_SIMPCHINESE} "是否同时让 Kestrove 忘记密码？$\r$\n\
选“是”，下次运行 Kestrove 时要设置新密码；用旧密码加密的文件仍然只能用旧密码解密。$\r$\n$\r$\n\
Should Kestrove forget your password as well?$\r$\n\
With Yes, Kestrove asks for a new password when it next starts; files encrypted under the old \
password still need the old password."

; ---- Version information of the setup ----
VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "Kestrove"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${DESCRIPTION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "Comments" "Kestrove 安装程序  Kestrove setup"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "Brannoc"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "© Brannoc"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "OriginalFilename" "kestrove-${VERSION}-setup.exe"

; ---- Shared by the setup and the uninstaller ----

; ProgramRunning FOLDER: leaves 1 on the stack when FOLDER's kestrove.exe is running (Windows
; refuses to open the file of a running program for writing), else 0.
!macro ProgramRunningFunction PREFIX
Function ${PREFIX}ProgramRunning
    Exch $0
    Push $1
    Push $2
    StrCpy $1 0
    ${If} ${FileExists} "$0\${PROGRAM}"
        ClearErrors
        FileOpen $2 "$0\${PROGRAM}" a
        ${If} ${Errors}
            StrCpy $1 1
        ${Else}
            FileClose $2
        ${EndIf}
    ${EndIf}
    StrCpy $0 $1
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; WaitUntilQuit FOLDER: asks to quit a running Kestrove of FOLDER until it has ended; aborts when
; the user cancels, and at once when run quietly.
Function ${PREFIX}WaitUntilQuit
    Exch $0
    Push $1
    ${Do}
        Push $0
        Call ${PREFIX}ProgramRunning
        Pop $1
        ${If} $1 == 0
            ${Break}
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(Running)" /SD IDCANCEL IDRETRY +2
        Abort
    ${Loop}
    Pop $1
    Pop $0
FunctionEnd
!macroend
!insertmacro ProgramRunningFunction ""
!insertmacro ProgramRunningFunction "un."

; RunElevated PARAMETERS: starts PROGRAM again with administrator rights (Windows asks the
; user); leaves the result of ShellExecute, above 32 on success.
!macro RunElevated PROGRAM PARAMETERS
    System::Call 'shell32::ShellExecuteW(p $HWNDPARENT, w "runas", w "${PROGRAM}", w "${PARAMETERS}", p 0, i ${SW_SHOWNORMAL}) p.s'
!macroend

; The buttons' two-language captions need more room than NSIS gives them: Back, Next and Cancel
; each grow by a third of their width, moved left so that Cancel keeps its right edge.
!macro WidenButtonsFunction PREFIX
Function ${PREFIX}WidenButtons
    StrCpy $8 0
    Push 2 ; Cancel
    Call ${PREFIX}WidenButton
    Push 1 ; Next
    Call ${PREFIX}WidenButton
    Push 3 ; Back
    Call ${PREFIX}WidenButton
FunctionEnd

; WidenButton ID: widens the button, moved left by its own growth and that of the buttons to its
; right, which $8 adds up.
Function ${PREFIX}WidenButton
    Pop $0
    GetDlgItem $1 $HWNDPARENT $0
    System::Call '*(i, i, i, i) p.r9'
    System::Call 'user32::GetWindowRect(p r1, p r9)'
    System::Call 'user32::MapWindowPoints(p 0, p $HWNDPARENT, p r9, i 2)'
    System::Call '*$9(i .r2, i .r3, i .r4, i .r5)'
    System::Free $9
    IntOp $6 $4 - $2 ; width
    IntOp $5 $5 - $3 ; height
    IntOp $7 $6 / 3
    IntOp $8 $8 + $7
    IntOp $2 $2 - $8
    IntOp $6 $6 + $7
    ; SWP_NOZORDER | SWP_NOACTIVATE
    System::Call 'user32::SetWindowPos(p r1, p 0, i r2, i r3, i r6, i r5, i 0x14)'
FunctionEnd
!macroend
!insertmacro WidenButtonsFunction ""
!insertmacro WidenButtonsFunction "un."

!macro CheckAdmin
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 == "Admin"
        StrCpy $IsAdmin 1
    ${Else}
        StrCpy $IsAdmin 0
    ${EndIf}
!macroend

; ---- The setup ----

Function .onInit
    !insertmacro CheckAdmin
    ; $INSTDIR holds what InstallDir says unless /D= gave another folder.
    StrCpy $GivenDir 0
    ${If} $INSTDIR != "$LOCALAPPDATA\Programs\Kestrove"
        StrCpy $GivenDir 1
    ${EndIf}
    ${GetParameters} $R0
    StrCpy $AllUsers 0
    ClearErrors
    ${GetOptions} $R0 "/ALLUSERS" $0
    ${IfNot} ${Errors}
        StrCpy $AllUsers 1
    ${Else}
        ; Without a choice: for all users when that is where the installed copy is and the setup
        ; may go there; otherwise just for the current user.
        ClearErrors
        ${GetOptions} $R0 "/CURRENTUSER" $0
        ${If} ${Errors}
        ${AndIf} $IsAdmin == 1
            ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
            ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
            ${If} $0 == ""
            ${AndIf} $1 != ""
                StrCpy $AllUsers 1
            ${EndIf}
        ${EndIf}
    ${EndIf}
    ${If} $AllUsers == 1
    ${AndIf} $IsAdmin != 1
    ${AndIf} ${Silent}
        SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
        Quit
    ${EndIf}
    Call SelectMode
    ; A desktop shortcut when asked for, or when the installed copy has one.
    StrCpy $WantDesktop 0
    ClearErrors
    ${GetOptions} $R0 "/DESKTOPSHORTCUT" $0
    ${IfNot} ${Errors}
    ${OrIf} ${FileExists} "$DESKTOP\${SHORTCUT}"
        StrCpy $WantDesktop 1
    ${EndIf}
FunctionEnd

; SelectMode: the shell folders, the registry root and the folder for $AllUsers.
Function SelectMode
    ${If} $AllUsers == 1
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
    ${If} $GivenDir == 1
        Return
    ${EndIf}
    ; An update goes where the installed copy is.
    ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
        StrCpy $INSTDIR $0
    ${ElseIf} $AllUsers == 1
        StrCpy $INSTDIR "$PROGRAMFILES64\Kestrove"
    ${Else}
        ; FOLDERID_UserProgramFiles, normally %LOCALAPPDATA%\Programs
        GetKnownFolderPath $0 {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}
        ${If} $0 == ""
            StrCpy $0 "$LOCALAPPDATA\Programs"
        ${EndIf}
        StrCpy $INSTDIR "$0\Kestrove"
    ${EndIf}
FunctionEnd

Function WelcomePre
    ; Started again with administrator rights: the user has seen it already.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/ALLUSERS" $1
    ${IfNot} ${Errors}
        Abort
    ${EndIf}
FunctionEnd

Function ModePageShow
    !insertmacro MUI_HEADER_TEXT "$(ModeTitle)" "$(ModeSubtitle)"
    nsDialogs::Create 1018
    Pop $ModeDialog
    ${NSD_CreateRadioButton} 0 4u 100% 22u "$(ModeCurrentUser)"
    Pop $ModeCurrentUser
    ${NSD_AddStyle} $ModeCurrentUser ${BS_MULTILINE}
    ${NSD_OnClick} $ModeCurrentUser ModePageUpdate
    ${NSD_CreateRadioButton} 0 32u 100% 22u "$(ModeAllUsers)"
    Pop $ModeAllUsers
    ${NSD_AddStyle} $ModeAllUsers ${BS_MULTILINE}
    ${NSD_OnClick} $ModeAllUsers ModePageUpdate
    ${NSD_CreateCheckbox} 0 72u 100% 22u "$(ModeDesktop)"
    Pop $ModeDesktop
    ${NSD_AddStyle} $ModeDesktop ${BS_MULTILINE}
    ${NSD_CreateLabel} 0 108u 100% 22u "$(ModeNote)"
    Pop $0
    ${If} $AllUsers == 1
        ${NSD_Check} $ModeAllUsers
    ${Else}
        ${NSD_Check} $ModeCurrentUser
    ${EndIf}
    ${If} $WantDesktop == 1
        ${NSD_Check} $ModeDesktop
    ${EndIf}
    Call ModePageUpdate
    nsDialogs::Show
FunctionEnd

; The Next button carries the shield when going on needs administrator rights.
Function ModePageUpdate
    Pop $0 ; the control clicked, when called as a handler; nothing otherwise
    GetDlgItem $0 $HWNDPARENT 1
    ${NSD_GetState} $ModeAllUsers $1
    ${If} $1 == ${BST_CHECKED}
    ${AndIf} $IsAdmin != 1
        SendMessage $0 ${BCM_SETSHIELD} 0 1
    ${Else}
        SendMessage $0 ${BCM_SETSHIELD} 0 0
    ${EndIf}
FunctionEnd

Function ModePageLeave
    ${NSD_GetState} $ModeDesktop $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $WantDesktop 1
    ${Else}
        StrCpy $WantDesktop 0
    ${EndIf}
    ${NSD_GetState} $ModeAllUsers $0
    ${If} $0 == ${BST_CHECKED}
    ${AndIf} $IsAdmin != 1
        ; The setup starts again with administrator rights and goes on there.
        StrCpy $1 "/ALLUSERS"
        ${If} $WantDesktop == 1
            StrCpy $1 "$1 /DESKTOPSHORTCUT"
        ${EndIf}
        !insertmacro RunElevated "$EXEPATH" "$1"
        Pop $0
        ${If} $0 > 32
            Quit
        ${EndIf}
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(NoElevation)"
        Abort
    ${EndIf}
    ${If} $0 == ${BST_CHECKED}
        StrCpy $AllUsers 1
    ${Else}
        StrCpy $AllUsers 0
    ${EndIf}
    Call SelectMode
FunctionEnd

; RemoveEarlierCopy: an installed copy (an earlier version, or this one) is removed by its own
; uninstaller, which knows its files, so that nothing of it is left beside the new files.
Function RemoveEarlierCopy
    ReadRegStr $R1 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $R1 == ""
        Return
    ${EndIf}
    Push $R1
    Call WaitUntilQuit
    ${If} ${FileExists} "$R1\${UNINSTALLER}"
        DetailPrint "$R1\${UNINSTALLER} /S"
        ClearErrors
        ; _?= runs it in place, so that ExecWait waits for it; quietly it keeps the setting.
        ExecWait '"$R1\${UNINSTALLER}" /S _?=$R1' $0
        ${If} ${Errors}
        ${OrIf} $0 != 0
            MessageBox MB_OK|MB_ICONSTOP "$(EarlierFailed)" /SD IDOK
            Abort
        ${EndIf}
        ; Run in place, it cannot delete itself.
        Delete "$R1\${UNINSTALLER}"
        RMDir "$R1"
    ${EndIf}
FunctionEnd

Section
    Push $INSTDIR
    Call WaitUntilQuit
    Call RemoveEarlierCopy

    SetOutPath "$INSTDIR"
    !insertmacro InstallPayload
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0 \
        SW_SHOWNORMAL "" "${DESCRIPTION}"
    ${If} $WantDesktop == 1
        CreateShortcut "$DESKTOP\${SHORTCUT}" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0 \
            SW_SHOWNORMAL "" "${DESCRIPTION}"
    ${EndIf}

    ; SHCTX: HKCU for the current user, HKLM for all users (SelectMode).
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Kestrove"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "Brannoc"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; ---- The uninstaller ----

Function un.onInit
    !insertmacro CheckAdmin
    ; Installed for all users when the entry in HKLM names this folder.
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == $INSTDIR
        SetShellVarContext all
        ${If} $IsAdmin != 1
            ${If} ${Silent}
                SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
                Quit
            ${EndIf}
            ; This is a copy in the temporary folder; the uninstaller itself starts again, once.
            ${GetParameters} $1
            ClearErrors
            ${GetOptions} $1 "/ELEVATED" $2
            ${If} ${Errors}
                !insertmacro RunElevated "$INSTDIR\${UNINSTALLER}" "/ELEVATED"
                Pop $0
                ${If} $0 > 32
                    Quit
                ${EndIf}
            ${EndIf}
            MessageBox MB_OK|MB_ICONEXCLAMATION "$(NoElevation)"
            Quit
        ${EndIf}
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd

Section "Uninstall"
    Push $INSTDIR
    Call un.WaitUntilQuit

    !insertmacro RemovePayload
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${SHORTCUT}"
    Delete "$DESKTOP\${SHORTCUT}"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"

    ; The password's digest belongs to the user, not to this copy: kept unless the user says so.
    ClearErrors
    ReadRegStr $0 HKCU "${SETTING_KEY}" "${SETTING_VALUE}"
    ${IfNot} ${Errors}
        MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(Forget)" /SD IDNO IDNO keep
        DeleteRegValue HKCU "${SETTING_KEY}" "${SETTING_VALUE}"
        DeleteRegKey /ifempty HKCU "${SETTING_KEY}"
        DeleteRegKey /ifempty HKCU "Software\Brannoc"
        keep:
    ${EndIf}
SectionEnd

; The installer of the EDMS desktop programs: the five programs in one folder of the current
; user (no administrator rights), the configuration key, the work and download folders, the
; agent at logon, an uninstaller. The same file updates an installation: the agent runs it.
; Built by scripts/make-installer (make dist), which passes BUILD_NSH (the programs and product
; facts of a build) and OUT_FILE. Options and exit codes: docs/administrators.md, "The installer".
Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "${BUILD_NSH}"
; The uninstaller is made inside the installer: it is signed before it is packed (the installer
; itself is signed by scripts/make-installer afterwards).
!ifdef SIGN_COMMAND
  !uninstfinalize '"${SIGN_COMMAND}" sign "%1"' = 0
!endif
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include WinMessages.nsh

; Fixed by the system: every program reads this key.
!define CONFIG_KEY "Software\kelvora\Zelto\Config"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT_NAME}"
!define AGENT_EXE "Pellarin.exe"
!define AGENT_RUN_VALUE "Pellarin"
!define AGENT_MUTEX "mtxPellarin"
!define AGENT_TITLE_PREFIX "Pellarin["
!define AGENT_EXIT_COMMAND 32772
!define AGENT_EXIT_WAIT_MS 30000
!define SETUP_LOG "$TEMP\${PRODUCT_NAME}-setup.log"

Name "${PRODUCT_NAME}"
OutFile "${OUT_FILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT_NAME}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT_NAME} ${VERSION}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY_NAME}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT_NAME} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright ${COMPANY_NAME}"

; The configuration an installation sets: what an earlier one set, then the command line, then
; the pages.
Var AdaptorURL
Var EdmsURL
Var PlainHttpName
Var PlainHttpValue
Var NoticeURL
Var ServerAddress
Var WorkFolder
Var DownloadFolder
Var AppType
Var LanguageID
Var NoticeCheckTime
Var UpdateCheckTime
Var Params       ; " " and the command line's parameters
Var Problem      ; the text of the first refused value, empty when all are good
Var Field1
Var Field2
Var Field3
Var Field4
Var Field5
Var Field6

!define MUI_ABORTWARNING
!define MUI_ICON "${__FILEDIR__}/../agent/res/pellarin.ico"
!define MUI_UNICON "${__FILEDIR__}/../agent/res/pellarin.ico"
!insertmacro MUI_PAGE_DIRECTORY
Page custom ConnectionPage ConnectionPageLeave
Page custom SettingsPage SettingsPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Korean"

LangString ConnectionTitle 1033 "Server"
LangString ConnectionTitle 1042 "서버"
LangString ConnectionSubtitle 1033 "Where the programs find the EDMS server."
LangString ConnectionSubtitle 1042 "프로그램이 EDMS 서버를 찾는 곳입니다."
LangString AdaptorLabel 1033 "Server adaptor (AdaptorURL):"
LangString AdaptorLabel 1042 "서버 어댑터 (AdaptorURL):"
LangString EdmsLabel 1033 "EDMS page (EdmsURL):"
LangString EdmsLabel 1042 "EDMS 페이지 (EdmsURL):"
LangString NoticeLabel 1033 "Notice page (NoticeURL):"
LangString NoticeLabel 1042 "공지 페이지 (NoticeURL):"
LangString ServerAddressLabel 1033 "EDMS share server (ServerAddress):"
LangString ServerAddressLabel 1042 "EDMS 공유 서버 (ServerAddress):"
LangString SettingsTitle 1033 "Folders and checks"
LangString SettingsTitle 1042 "폴더와 확인 주기"
LangString SettingsSubtitle 1033 "Where documents go, and how often the agent asks the server."
LangString SettingsSubtitle 1042 "문서를 받을 폴더와 에이전트가 서버에 묻는 주기입니다."
LangString WorkFolderLabel 1033 "Working copies (WorkFolder):"
LangString WorkFolderLabel 1042 "작업 문서 폴더 (WorkFolder):"
LangString DownloadFolderLabel 1033 "Downloads (DownloadFolder):"
LangString DownloadFolderLabel 1042 "다운로드 폴더 (DownloadFolder):"
LangString AppTypeLabel 1033 "Installation kind (AppType):"
LangString AppTypeLabel 1042 "설치 종류 (AppType):"
LangString LanguageLabel 1033 "Language (LanguageID, 1033 or 1042):"
LangString LanguageLabel 1042 "언어 (LanguageID, 1033 또는 1042):"
LangString NoticeMinutesLabel 1033 "Check notices every (minutes, 1-60):"
LangString NoticeMinutesLabel 1042 "공지 확인 주기 (분, 1-60):"
LangString UpdateMinutesLabel 1033 "Check updates every (minutes, 1-60):"
LangString UpdateMinutesLabel 1042 "업데이트 확인 주기 (분, 1-60):"
LangString BadAdaptor 1033 "The server adaptor (AdaptorURL) must be an address beginning with http:// or https://."
LangString BadAdaptor 1042 "서버 어댑터(AdaptorURL)는 http:// 또는 https://로 시작하는 주소여야 합니다."
LangString BadPage 1033 "EdmsURL and NoticeURL must be empty or begin with http:// or https://."
LangString BadPage 1042 "EdmsURL과 NoticeURL은 비어 있거나 http:// 또는 https://로 시작해야 합니다."
LangString PlainHttpNote 1033 "Addresses on another computer should begin with https://: browsers keep an EDMS page served over plain http from the agent, and anyone on the network can read plain http."
LangString PlainHttpNote 1042 "다른 컴퓨터의 주소는 https://로 시작해야 합니다. 브라우저는 일반 http로 제공되는 EDMS 페이지가 에이전트에 연결하지 못하게 하며, 일반 http는 네트워크에서 누구나 읽을 수 있습니다."
LangString PlainHttpWarning 1033 "Warning: $PlainHttpName is plain http on another computer ($PlainHttpValue). Browsers keep such an EDMS page from the agent; serve the EDMS over https."
LangString PlainHttpWarning 1042 "경고: $PlainHttpName이(가) 다른 컴퓨터의 일반 http 주소입니다($PlainHttpValue). 브라우저는 이런 EDMS 페이지가 에이전트에 연결하지 못하게 합니다. EDMS를 https로 제공하십시오."
LangString BadFolder 1033 "WorkFolder and DownloadFolder must be full paths (C:\... or \\server\share\...)."
LangString BadFolder 1042 "WorkFolder와 DownloadFolder는 전체 경로(C:\... 또는 \\server\share\...)여야 합니다."
LangString BadAppType 1033 "AppType must be letters, digits, dots, dashes or underscores."
LangString BadAppType 1042 "AppType은 영문자, 숫자, 점, 대시, 밑줄로만 이루어져야 합니다."
LangString BadLanguage 1033 "LanguageID must be 1033 (English) or 1042 (Korean)."
LangString BadLanguage 1042 "LanguageID는 1033(영어) 또는 1042(한국어)여야 합니다."
LangString BadMinutes 1033 "NoticeCheckTime and UpdateCheckTime must be empty or a number of minutes from 1 to 60."
LangString BadMinutes 1042 "NoticeCheckTime과 UpdateCheckTime은 비어 있거나 1에서 60 사이의 분이어야 합니다."
LangString AgentStillRunning 1033 "The agent (Pellarin) did not close. Choose Exit in its tray menu, then run the setup again."
LangString AgentStillRunning 1042 "에이전트(Pellarin)가 종료되지 않았습니다. 트레이 메뉴에서 종료를 선택한 뒤 설치를 다시 실행하십시오."
LangString CannotCreateFolder 1033 "This folder cannot be created:"
LangString CannotCreateFolder 1042 "이 폴더를 만들 수 없습니다:"
LangString CannotWriteFiles 1033 "The programs could not be written to the installation folder; nothing else was changed:"
LangString CannotWriteFiles 1042 "프로그램을 설치 폴더에 쓸 수 없어 다른 것은 바꾸지 않았습니다:"
LangString CannotWriteConfig 1033 "The configuration could not be written to the registry."
LangString CannotWriteConfig 1042 "레지스트리에 설정을 쓸 수 없습니다."

; ------------------------------------------------------------------ command line

; Pushes the value of the option NAME: /NAME=value (up to the next option), /NAME="value" or
; "/NAME=value"; names without regard to case. The error flag is set when the option is absent.
!macro OptionValue NAME RESULT
  Push "${NAME}"
  Call OptionValue
  Pop ${RESULT}
!macroend

Function OptionValue
  Exch $0  ; the name, then the value
  Push $1  ; "/NAME="
  Push $2  ; index
  Push $3  ; length of the parameters
  Push $4  ; piece
  Push $5  ; the character before the option
  Push $6  ; length of "/NAME="
  StrCpy $1 "/$0="
  StrLen $6 $1
  StrLen $3 $Params
  StrCpy $2 1
  find:
    IntCmp $2 $3 absent 0 absent
    StrCpy $4 $Params $6 $2
    StrCmp $4 $1 0 next
    IntOp $5 $2 - 1
    StrCpy $5 $Params 1 $5
    StrCmp $5 " " found
    StrCmp $5 '"' found
  next:
    IntOp $2 $2 + 1
    Goto find
  found:
    IntOp $2 $2 + $6
    StrCpy $0 $Params "" $2
    StrCmp $5 '"' quoted
    StrCpy $4 $0 1
    StrCmp $4 '"' 0 plain
    StrCpy $0 $0 "" 1
  quoted:  ; up to the closing quote
    StrCpy $2 0
    quotedLoop:
      StrCpy $4 $0 1 $2
      StrCmp $4 '"' cut
      StrCmp $4 "" cut
      IntOp $2 $2 + 1
      Goto quotedLoop
  plain:  ; up to the next option, quoted or not
    StrCpy $2 0
    plainLoop:
      StrCpy $4 $0 2 $2
      StrCmp $4 " /" trim
      StrCmp $4 "" trim
      StrCpy $4 $0 3 $2
      StrCmp $4 ' "/' trim
      IntOp $2 $2 + 1
      Goto plainLoop
    trim:
      StrCpy $0 $0 $2
      StrCpy $4 $0 1 -1
      StrCmp $4 " " 0 done
      StrCpy $0 $0 -1
      Goto trim
  cut:
    StrCpy $0 $0 $2
  done:
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    ClearErrors
    Exch $0
    Return
  absent:
    StrCpy $0 ""
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Exch $0
    SetErrors
FunctionEnd

!macro TakeOption NAME VAR
  !insertmacro OptionValue "${NAME}" $0
  ${IfNot} ${Errors}
    StrCpy ${VAR} $0
  ${EndIf}
!macroend

; ------------------------------------------------------------------ checks

; True (the error flag clear) when TEXT begins with http:// or https://.
!macro IsWebAddress TEXT
  ClearErrors
  StrCpy $0 "${TEXT}" 7
  StrCpy $1 "${TEXT}" 8
  ${If} $0 != "http://"
  ${AndIf} $1 != "https://"
    SetErrors
  ${EndIf}
!macroend

; Sets the error flag when TEXT is a plain http address of another computer (not 127.0.0.1,
; localhost or [::1]).
!macro IsPlainHttpElsewhere TEXT
  ClearErrors
  StrCpy $0 "${TEXT}" 7
  ${If} $0 == "http://"
    StrCpy $0 "${TEXT}" 9 7
    StrCpy $1 "${TEXT}" 10 7
    StrCpy $2 "${TEXT}" 5 7
    ${IfNot} $0 == "127.0.0.1"
    ${AndIfNot} $1 == "localhost:"
    ${AndIfNot} $1 == "localhost/"
    ${AndIfNot} "${TEXT}" == "http://localhost"
    ${AndIfNot} $2 == "[::1]"
      SetErrors
    ${EndIf}
  ${EndIf}
!macroend

; Warns (a box, or in a silent run the setup log) for each of EdmsURL and AdaptorURL that is
; plain http on another computer; the installation goes on.
Function WarnPlainHttp
  StrCpy $PlainHttpName ""
  !insertmacro IsPlainHttpElsewhere $EdmsURL
  ${If} ${Errors}
    StrCpy $PlainHttpName "EdmsURL"
    StrCpy $PlainHttpValue $EdmsURL
  ${Else}
    !insertmacro IsPlainHttpElsewhere $AdaptorURL
    ${If} ${Errors}
      StrCpy $PlainHttpName "AdaptorURL"
      StrCpy $PlainHttpValue $AdaptorURL
    ${EndIf}
  ${EndIf}
  ${If} $PlainHttpName == ""
    Return
  ${EndIf}
  ${If} ${Silent}
    FileOpen $1 "${SETUP_LOG}" a
    ${IfNot} ${Errors}
      FileSeek $1 0 END
      FileWriteUTF16LE $1 "$(PlainHttpWarning)$\r$\n"
      FileClose $1
    ${EndIf}
  ${Else}
    MessageBox MB_OK|MB_ICONINFORMATION "$(PlainHttpWarning)"
  ${EndIf}
FunctionEnd

; A full path: a drive letter, a colon and a backslash, or \\ (a share).
Function IsFullPath
  Exch $0
  Push $1
  StrCpy $1 $0 2
  ${If} $1 == "\\"
    StrCpy $0 1
  ${Else}
    StrCpy $1 $0 2 1
    ${If} $1 == ":\"
      StrCpy $0 1
    ${Else}
      StrCpy $0 0
    ${EndIf}
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

; 1 when TEXT is a plain name part (letters, digits, dots, dashes, underscores), else 0: the
; update names the installer it downloads after AppType.
!define NAME_PART_CHARACTERS "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.-_"
Function IsNamePart
  Exch $0
  Push $1  ; index in TEXT
  Push $2  ; its character
  Push $3  ; index in the allowed characters
  Push $4  ; an allowed character
  StrCpy $1 0
  StrCmp $0 "" refused
  character:
    StrCpy $2 $0 1 $1
    StrCmp $2 "" accepted
    StrCpy $3 0
    allowed:
      StrCpy $4 "${NAME_PART_CHARACTERS}" 1 $3
      StrCmp $4 "" refused
      StrCmpS $4 $2 +3
      IntOp $3 $3 + 1
      Goto allowed
    IntOp $1 $1 + 1
    Goto character
  refused:
    StrCpy $0 0
    Goto end
  accepted:
    StrCpy $0 1
  end:
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; 1 when TEXT is empty or a whole number of minutes from 1 to 60.
Function IsMinutesOrEmpty
  Exch $0
  Push $1
  ${If} $0 == ""
    StrCpy $0 1
  ${Else}
    IntOp $1 $0 + 0
    ${If} "$1" == "$0"
    ${AndIf} $1 >= 1
    ${AndIf} $1 <= 60
      StrCpy $0 1
    ${Else}
      StrCpy $0 0
    ${EndIf}
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

; Sets $Problem to the text of the first value that cannot be written, or to "".
Function CheckValues
  StrCpy $Problem ""
  !insertmacro IsWebAddress $AdaptorURL
  ${If} ${Errors}
    StrCpy $Problem "$(BadAdaptor)"
    Return
  ${EndIf}
  ${If} $EdmsURL != ""
    !insertmacro IsWebAddress $EdmsURL
    ${If} ${Errors}
      StrCpy $Problem "$(BadPage)"
      Return
    ${EndIf}
  ${EndIf}
  ${If} $NoticeURL != ""
    !insertmacro IsWebAddress $NoticeURL
    ${If} ${Errors}
      StrCpy $Problem "$(BadPage)"
      Return
    ${EndIf}
  ${EndIf}
  Push $WorkFolder
  Call IsFullPath
  Pop $0
  Push $DownloadFolder
  Call IsFullPath
  Pop $1
  ${If} $0 != 1
  ${OrIf} $1 != 1
    StrCpy $Problem "$(BadFolder)"
    Return
  ${EndIf}
  Push $AppType
  Call IsNamePart
  Pop $0
  ${If} $0 != 1
    StrCpy $Problem "$(BadAppType)"
    Return
  ${EndIf}
  ${If} $LanguageID != "1033"
  ${AndIf} $LanguageID != "1042"
    StrCpy $Problem "$(BadLanguage)"
    Return
  ${EndIf}
  Push $NoticeCheckTime
  Call IsMinutesOrEmpty
  Pop $0
  Push $UpdateCheckTime
  Call IsMinutesOrEmpty
  Pop $1
  ${If} $0 != 1
  ${OrIf} $1 != 1
    StrCpy $Problem "$(BadMinutes)"
  ${EndIf}
FunctionEnd

; Tells what went wrong (a box, or in a silent run the setup log) and ends with exit code 2.
!macro FailWith TEXT
  Push "${TEXT}"
  Call FailWith
!macroend
!macro FAIL_FUNCTION un
Function ${un}FailWith
  Exch $0
  ${If} ${Silent}
    FileOpen $1 "${SETUP_LOG}" a
    ${IfNot} ${Errors}
      FileSeek $1 0 END
      FileWriteUTF16LE $1 "$0$\r$\n"
      FileClose $1
    ${EndIf}
  ${Else}
    MessageBox MB_OK|MB_ICONEXCLAMATION "$0"
  ${EndIf}
  SetErrorLevel 2
  Quit
FunctionEnd
!macroend
!insertmacro FAIL_FUNCTION ""
!insertmacro FAIL_FUNCTION "un."

; ------------------------------------------------------------------ the running agent

; Posts the agent's Exit command to its main window ("Pellarin[" + AppVersion + "]") and waits
; for its process, bounded; fails when an agent still holds its instance mutex afterwards.
!macro CLOSE_AGENT_FUNCTION un
Function ${un}CloseAgent
  StrCpy $0 0
  next:
    FindWindow $0 "#32770" "" "" $0
    StrCmp $0 0 checked
    System::Call "user32::GetWindowTextW(p r0, w .r1, i ${NSIS_MAX_STRLEN})"
    StrLen $2 "${AGENT_TITLE_PREFIX}"
    StrCpy $1 $1 $2
    StrCmpS $1 "${AGENT_TITLE_PREFIX}" 0 next
    System::Call "user32::GetWindowThreadProcessId(p r0, *i .r3)"
    System::Call "kernel32::OpenProcess(i 0x00100000, i 0, i r3) p.r4"
    System::Call "user32::PostMessageW(p r0, i ${WM_COMMAND}, p ${AGENT_EXIT_COMMAND}, p 0)"
    ${If} $4 P<> 0
      System::Call "kernel32::WaitForSingleObject(p r4, i ${AGENT_EXIT_WAIT_MS}) i"
      System::Call "kernel32::CloseHandle(p r4)"
    ${EndIf}
  checked:
  System::Call "kernel32::OpenMutexW(i 0x00100000, i 0, w '${AGENT_MUTEX}') p.r1"
  ${If} $1 P<> 0
    System::Call "kernel32::CloseHandle(p r1)"
    Push "$(AgentStillRunning)"
    Call ${un}FailWith
  ${EndIf}
FunctionEnd
!macroend
!insertmacro CLOSE_AGENT_FUNCTION ""
!insertmacro CLOSE_AGENT_FUNCTION "un."

; ------------------------------------------------------------------ start

Function .onInit
  ReadRegStr $AdaptorURL HKCU "${CONFIG_KEY}" "AdaptorURL"
  ReadRegStr $EdmsURL HKCU "${CONFIG_KEY}" "EdmsURL"
  ReadRegStr $NoticeURL HKCU "${CONFIG_KEY}" "NoticeURL"
  ReadRegStr $ServerAddress HKCU "${CONFIG_KEY}" "ServerAddress"
  ReadRegStr $WorkFolder HKCU "${CONFIG_KEY}" "WorkFolder"
  ReadRegStr $DownloadFolder HKCU "${CONFIG_KEY}" "DownloadFolder"
  ReadRegStr $AppType HKCU "${CONFIG_KEY}" "AppType"
  ReadRegDWORD $LanguageID HKCU "${CONFIG_KEY}" "LanguageID"
  ReadRegDWORD $NoticeCheckTime HKCU "${CONFIG_KEY}" "NoticeCheckTime"
  ReadRegDWORD $UpdateCheckTime HKCU "${CONFIG_KEY}" "UpdateCheckTime"
  ${If} $WorkFolder == ""
    StrCpy $WorkFolder "$DOCUMENTS\${PRODUCT_NAME}\Work"
  ${EndIf}
  ${If} $DownloadFolder == ""
    StrCpy $DownloadFolder "$DOCUMENTS\${PRODUCT_NAME}\Downloads"
  ${EndIf}
  ${If} $AppType == ""
    StrCpy $AppType "EDMS_AGENT"
  ${EndIf}
  ${If} $LanguageID == ""
  ${OrIf} $LanguageID == 0
    StrCpy $LanguageID $LANGUAGE
  ${EndIf}

  ${GetParameters} $Params
  StrCpy $Params " $Params"
  !insertmacro TakeOption "AdaptorURL" $AdaptorURL
  !insertmacro TakeOption "EdmsURL" $EdmsURL
  !insertmacro TakeOption "NoticeURL" $NoticeURL
  !insertmacro TakeOption "ServerAddress" $ServerAddress
  !insertmacro TakeOption "WorkFolder" $WorkFolder
  !insertmacro TakeOption "DownloadFolder" $DownloadFolder
  !insertmacro TakeOption "AppType" $AppType
  !insertmacro TakeOption "LanguageID" $LanguageID
  !insertmacro TakeOption "NoticeCheckTime" $NoticeCheckTime
  !insertmacro TakeOption "UpdateCheckTime" $UpdateCheckTime
  ${If} $LanguageID == "1033"
  ${OrIf} $LanguageID == "1042"
    StrCpy $LANGUAGE $LanguageID
  ${EndIf}

  ${If} ${Silent}
    Call CheckValues
    ${If} $Problem != ""
      !insertmacro FailWith "$Problem"
    ${EndIf}
    Call WarnPlainHttp
  ${EndIf}
FunctionEnd

; ------------------------------------------------------------------ pages

; One row: a label on the left, an edit field on the right; the field's handle in VAR.
!macro FieldRow ROW LABEL VALUE VAR
  ${NSD_CreateLabel} 0 ${ROW}u 42% 12u "${LABEL}"
  Pop $0
  ${NSD_CreateText} 43% ${ROW}u 57% 12u "${VALUE}"
  Pop ${VAR}
!macroend

Function ConnectionPage
  !insertmacro MUI_HEADER_TEXT "$(ConnectionTitle)" "$(ConnectionSubtitle)"
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  !insertmacro FieldRow 4 "$(AdaptorLabel)" "$AdaptorURL" $Field1
  !insertmacro FieldRow 22 "$(EdmsLabel)" "$EdmsURL" $Field2
  !insertmacro FieldRow 40 "$(NoticeLabel)" "$NoticeURL" $Field3
  !insertmacro FieldRow 58 "$(ServerAddressLabel)" "$ServerAddress" $Field4
  ${NSD_CreateLabel} 0 78u 100% 24u "$(PlainHttpNote)"
  Pop $0
  nsDialogs::Show
FunctionEnd

Function ConnectionPageLeave
  ${NSD_GetText} $Field1 $AdaptorURL
  ${NSD_GetText} $Field2 $EdmsURL
  ${NSD_GetText} $Field3 $NoticeURL
  ${NSD_GetText} $Field4 $ServerAddress
  Call CheckValues
  ${If} $Problem == "$(BadAdaptor)"
  ${OrIf} $Problem == "$(BadPage)"
    MessageBox MB_OK|MB_ICONEXCLAMATION "$Problem"
    Abort
  ${EndIf}
  Call WarnPlainHttp
FunctionEnd

Function SettingsPage
  !insertmacro MUI_HEADER_TEXT "$(SettingsTitle)" "$(SettingsSubtitle)"
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  !insertmacro FieldRow 4 "$(WorkFolderLabel)" "$WorkFolder" $Field1
  !insertmacro FieldRow 22 "$(DownloadFolderLabel)" "$DownloadFolder" $Field2
  !insertmacro FieldRow 40 "$(AppTypeLabel)" "$AppType" $Field3
  !insertmacro FieldRow 58 "$(LanguageLabel)" "$LanguageID" $Field4
  !insertmacro FieldRow 76 "$(NoticeMinutesLabel)" "$NoticeCheckTime" $Field5
  !insertmacro FieldRow 94 "$(UpdateMinutesLabel)" "$UpdateCheckTime" $Field6
  nsDialogs::Show
FunctionEnd

Function SettingsPageLeave
  ${NSD_GetText} $Field1 $WorkFolder
  ${NSD_GetText} $Field2 $DownloadFolder
  ${NSD_GetText} $Field3 $AppType
  ${NSD_GetText} $Field4 $LanguageID
  ${NSD_GetText} $Field5 $NoticeCheckTime
  ${NSD_GetText} $Field6 $UpdateCheckTime
  Call CheckValues
  ${If} $Problem != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "$Problem"
    Abort
  ${EndIf}
FunctionEnd

; ------------------------------------------------------------------ install

!macro WriteText NAME VALUE
  WriteRegStr HKCU "${CONFIG_KEY}" "${NAME}" "${VALUE}"
!macroend

Section "Install"
  Call CloseAgent

  ClearErrors
  CreateDirectory "$WorkFolder"
  ${If} ${Errors}
    !insertmacro FailWith "$(CannotCreateFolder) $WorkFolder"
  ${EndIf}
  CreateDirectory "$DownloadFolder"
  ${If} ${Errors}
    !insertmacro FailWith "$(CannotCreateFolder) $DownloadFolder"
  ${EndIf}

  SetOutPath "$INSTDIR"
  ${If} ${Errors}
    !insertmacro FailWith "$(CannotCreateFolder) $INSTDIR"
  ${EndIf}
  !insertmacro EDMS_INSTALL_PROGRAMS
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
    !insertmacro FailWith "$(CannotWriteFiles) $INSTDIR"
  ${EndIf}

  !insertmacro WriteText "AdaptorURL" "$AdaptorURL"
  !insertmacro WriteText "EdmsURL" "$EdmsURL"
  !insertmacro WriteText "NoticeURL" "$NoticeURL"
  !insertmacro WriteText "ServerAddress" "$ServerAddress"
  !insertmacro WriteText "WorkFolder" "$WorkFolder"
  !insertmacro WriteText "DownloadFolder" "$DownloadFolder"
  !insertmacro WriteText "AppType" "$AppType"
  !insertmacro WriteText "AppVersion" "${VERSION}"
  WriteRegDWORD HKCU "${CONFIG_KEY}" "LanguageID" $LanguageID
  ${If} $NoticeCheckTime != ""
    WriteRegDWORD HKCU "${CONFIG_KEY}" "NoticeCheckTime" $NoticeCheckTime
  ${EndIf}
  ${If} $UpdateCheckTime != ""
    WriteRegDWORD HKCU "${CONFIG_KEY}" "UpdateCheckTime" $UpdateCheckTime
  ${EndIf}
  WriteRegStr HKCU "${RUN_KEY}" "${AGENT_RUN_VALUE}" '"$INSTDIR\${AGENT_EXE}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${COMPANY_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${AGENT_EXE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${If} ${Errors}
    !insertmacro FailWith "$(CannotWriteConfig)"
  ${EndIf}

  Exec '"$INSTDIR\${AGENT_EXE}"'
SectionEnd

; ------------------------------------------------------------------ uninstall

; The configuration key, the check-out records, working copies and downloads stay: they hold
; the user's documents and an administrator's settings.
Section "Uninstall"
  Call un.CloseAgent
  !insertmacro EDMS_REMOVE_PROGRAMS
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegValue HKCU "${RUN_KEY}" "${AGENT_RUN_VALUE}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

// Resource ids of the stub: the dialogs, their controls and the string table.
// The values are part of the stub's external interface (packers and installers
// that customise the dialogs refer to them); do not renumber.
#ifndef SFX_APP_RESOURCE_H_
#define SFX_APP_RESOURCE_H_

// String table.
#define IDS_APP_TITLE 103     // "Nimbral Unpacker": the hidden window's title
#define IDS_WINDOW_CLASS 109  // "SELFEXTRACT": the hidden window's class name

// The stub's own icon: its first icon group, the one the shell and the
// dialogs show; sfxpack --icon replaces it.
#define IDI_STUB 1

// Dialogs.
#define IDD_MAIN 129
#define IDD_PASSWORD 130
#define IDD_FINISHED 139
#define IDD_PROGRESS 140

// Controls. IDOK (1) and IDCANCEL (2) come from <windows.h>: the password
// dialog's OK and Cancel buttons and the main dialog's Close button.
#define IDC_UNZIP 1001        // main: default button "Unzip"
#define IDC_UNZIP_DIR 1003    // main: edit box with the unzip directory
#define IDC_BROWSE 1004       // main: "Browse" (folder picker)
#define IDC_PASSWORD 1007     // password: edit box, characters hidden
#define IDC_PROGRESS 1008     // main and progress: progress bar, range 0..100
#define IDC_RESULT 1013       // main: "Finished!" or "Error!" after unzipping
#define IDC_CAPTION 1014      // every dialog: the explanatory text at the top
#define IDC_FINISHED_OK 1015  // finished: default button "OK"
#define IDC_STATUS 1016       // main: status line
#define IDC_UNZIP_LABEL 1017  // main: "Unzip to dir:"

// Commands without a control: the one the progress dialog's first timer tick
// posts to start unzipping, and the hidden window's command that destroys it.
#define IDC_START_UNZIP 1002
#define IDM_EXIT 105

#endif  // SFX_APP_RESOURCE_H_

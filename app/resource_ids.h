// Resource and control ids shared by the resource script and the dialog.
#pragma once

#define IDD_MAIN 101
#define IDI_PROGRAM 102
#define IDC_HAND_CURSOR 106

#define IDC_ABOUT 1000
#define IDC_SELECT_FOLDER 1002
#define IDC_OBJECT 1004
#define IDC_RESULTS 1006
#define IDC_PROMOTION 1017
#define IDC_LINK 1018
#define IDC_THREATS_HEADING 1019
#define IDC_THREATS 1020
#define IDC_SCAN 1021
#define IDC_NOTICE 1022
#define IDC_OBJECT_LABEL 1023

// The ids of the setup's user texts: one string table per language in
// texts.rc, English as the steps and the window write it. Plain macros,
// because the resource compiler reads this file too. Values are
// placeholders %1 to %9, filled in the same order in every language's
// sentence only by number, so a translation may move them.
#pragma once

// The window: titles, bodies, buttons, accessible names.
#define TX_WINDOW_TITLE 1
#define TX_WINDOW_TITLE_UNINSTALL 2
#define TX_TAGLINE 3
#define TX_TITLE_INSTALLING 4
#define TX_TITLE_UPDATING 5
#define TX_TITLE_REMOVING 6
#define TX_TITLE_CLOSE_APP 7
#define TX_TITLE_WENT_WRONG 8
#define TX_TITLE_NOT_REMOVED 9
#define TX_TITLE_UP_TO_DATE 10
#define TX_TITLE_READY 11
#define TX_TITLE_CONFIRM_UNINSTALL 12
#define TX_TITLE_REMOVED 13
#define TX_CHANGE_LOCATION 14
#define TX_INSTALLS_TO 15
#define TX_WAITING_BODY 16
#define TX_STARTING_NEW_VERSION 17
#define TX_STARTING_APP 18
#define TX_CANCELLING 19
#define TX_ERROR_CODE 20
#define TX_PROJECTS_SAFE 21
#define TX_REMOVE_DATA 22
#define TX_NO_LONGER_ON_PC 23
#define TX_BUTTON_INSTALL 24
#define TX_BUTTON_TRY_AGAIN 25
#define TX_BUTTON_COPY 26
#define TX_BUTTON_COPIED 27
#define TX_BUTTON_CLOSE 28
#define TX_BUTTON_UNINSTALL 29
#define TX_BUTTON_CANCEL 30
#define TX_MINIMISE 31
#define TX_PROGRESS 32
#define TX_ACTION_PRESS 33
#define TX_ACTION_CHECK 34
#define TX_ACTION_UNCHECK 35
#define TX_INSTALLS_TO_DESCRIPTION 36
#define TX_CHOOSE_FOLDER 37
#define TX_CLOSE_WINDOW 38

// Status and detail lines of the steps, and the welcome screen's notes.
#define TX_STATUS_CHECKING_LATEST 64
#define TX_STATUS_CHECKING_EARLIER 65
#define TX_STATUS_DOWNLOADING 66
#define TX_STATUS_CHECKING_DOWNLOAD 67
#define TX_STATUS_INSTALLING 68
#define TX_STATUS_FINISHING 69
#define TX_STATUS_WAITING_FOR_APP 70
#define TX_STATUS_REMOVING 71
#define TX_DETAIL_AMOUNT 72
#define TX_DETAIL_AMOUNT_SPEED 73
#define TX_NOTE_USING 80
#define TX_SHORT_PATH_LONG 81
#define TX_SHORT_PROJECTS 82
#define TX_SHORT_OTHER_FILES 83
#define TX_SHORT_NO_SPACE 84
#define TX_SHORT_NOT_FULL 85
#define TX_SHORT_CANT_WRITE 86

// Error messages, found by the error's code.
#define TX_ERR_CANCEL 128
#define TX_ERR_NET_1 129
#define TX_ERR_NET_2 130
#define TX_ERR_NET_3 131
#define TX_ERR_NET_4 132
#define TX_ERR_OLD_1 133
#define TX_ERR_NET_5 134
#define TX_ERR_HASH_1 135
#define TX_ERR_TEMP 136
#define TX_ERR_DISK_2 137
#define TX_ERR_UNPACK_1 138
#define TX_ERR_UNPACK_2 139
#define TX_ERR_PATH_2 140
#define TX_ERR_AV_1 141
#define TX_ERR_DISK_3 142
#define TX_ERR_DIR_1 143
#define TX_ERR_DIR_2_INSTALL 144
#define TX_ERR_DIR_2_THIS 145
#define TX_ERR_DIR_3_BLOCKED 146
#define TX_ERR_DIR_3 147
#define TX_ERR_DIR_4_PROJECTS 148
#define TX_ERR_DIR_4_OTHER 149
#define TX_ERR_PATH_1 150
#define TX_ERR_DISK_1 151
#define TX_ERR_RUN_1 152
#define TX_ERR_RUN_2 153
#define TX_ERR_INST_1 154
#define TX_ERR_INST_2 155
#define TX_ERR_INST_3 156
#define TX_ERR_INST_4 157
#define TX_ERR_SIG_1 158
#define TX_ERR_AV_2 159
#define TX_ERR_UN_1 160
#define TX_ERR_UN_2 161
#define TX_ERR_WIN_1 162
#define TX_ERR_WIN_2 163
#define TX_ERR_SIG_2 164
#define TX_ERR_SIG_3 165
#define TX_ERR_SIG_4 166

// Message boxes of the setup program.
#define TX_BOX_OLD_WINDOWS 192
#define TX_BOX_NO_WINDOW 193
#define TX_BOX_UNKNOWN_ARGUMENT 194
#define TX_BOX_NEEDS_VALUE 195
#define TX_BOX_NOT_A_VERSION 196

// One past the highest id.
#define TX_END 197

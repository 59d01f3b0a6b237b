#pragma once
// String ids of the user-interface controls.

// The first entry of the clip list, which switches back to the file list.
constexpr unsigned IDS_SHOW_FILES = 220;

// Texts of the rate menu (menu 144).
constexpr unsigned IDS_MENU_RUN = 0x7300;
constexpr unsigned IDS_MENU_RATE_NORMAL = 0x7301;
constexpr unsigned IDS_MENU_RATE_90 = 0x7302;
constexpr unsigned IDS_MENU_RATE_75 = 0x7303;
constexpr unsigned IDS_MENU_RATE_66 = 0x7304;
constexpr unsigned IDS_MENU_RATE_50 = 0x7305;
constexpr unsigned IDS_MENU_RATE_33 = 0x7306;
constexpr unsigned IDS_MENU_RATE_25 = 0x7307;
constexpr unsigned IDS_MENU_RATE_10 = 0x7308;
constexpr unsigned IDS_MENU_RATE_3 = 0x7309;
constexpr unsigned IDS_MENU_RATE_120 = 0x730A;
constexpr unsigned IDS_MENU_RATE_150 = 0x730B;
constexpr unsigned IDS_MENU_RATE_200 = 0x730C;

// The rate menu's reverse speeds.
constexpr unsigned IDS_MENU_REVERSE_25 = 0x7330;
constexpr unsigned IDS_MENU_REVERSE_50 = 0x7331;
constexpr unsigned IDS_MENU_REVERSE_100 = 0x7332;

// The folder browser's prompt when the caller gives none.
constexpr unsigned IDS_SELECT_FOLDER = 0x7310;

// The file finder's progress dialog.
constexpr unsigned IDS_FIND_TITLE = 0x7320;
constexpr unsigned IDS_FIND_FOLDER_LABEL = 0x7321;
constexpr unsigned IDS_FIND_COUNT_LABEL = 0x7322;
constexpr unsigned IDS_FIND_CANCEL = 0x7323;

#pragma once
// Ids of the player window and its panels: dialogs, controls, commands,
// menus, accelerator tables, icons and private messages. The numbers are
// the ones every part of the player and its hosts agree on.

// Dialogs.
constexpr unsigned IDD_VIDEO_PANEL = 153;
constexpr unsigned IDD_CONTROL_PANEL = 154;
// The rate menu of the Play button (144) and the control panel's
// accelerators (102) are resources of the user-interface foundation
// (ui/MenuResource.h, ui/AccelTable.h).

// Controls of the video panel.
constexpr unsigned IDC_VIDEO = 1000;
constexpr unsigned IDC_POSITION = 1001;
// Controls of the control panel.
constexpr unsigned IDC_FILE_COMBO = 1017;
constexpr unsigned IDC_CLIP_COMBO = 1018;
constexpr unsigned IDC_TIME = 1022;
constexpr unsigned IDC_ABOUT = 1054;

// Transport and panel commands (also the ids of their buttons).
constexpr unsigned ID_PLAY = 1500;
constexpr unsigned ID_PAUSE = 1501;
constexpr unsigned ID_STOP = 1502;
constexpr unsigned ID_BEGIN = 1503;
constexpr unsigned ID_END = 1504;
constexpr unsigned ID_BACK = 1505;
constexpr unsigned ID_FORWARD = 1506;
constexpr unsigned ID_STEP_BACK = 1507;
constexpr unsigned ID_STEP_FORWARD = 1508;
constexpr unsigned ID_OPEN_FILE = 1509;
constexpr unsigned ID_RELOAD_FILE = 1510;
constexpr unsigned ID_DEINTERLACE = 1511;
constexpr unsigned ID_FIND = 1512;
constexpr unsigned ID_TWO_VIDEOS = 1513;
constexpr unsigned ID_SYNC_VIDEOS = 1514;
constexpr unsigned ID_CONTINUOUS_PLAY = 1515;
constexpr unsigned ID_MARK_BEGIN = 1516;
constexpr unsigned ID_MARK_END = 1517;
constexpr unsigned ID_SAVE_SNAPSHOT = 1519;
constexpr unsigned ID_NO_EFFECT_1520 = 1520;
constexpr unsigned ID_PLAY_PAUSE = 32774;
constexpr unsigned ID_SELECT_ALL_NONE = 32810;
constexpr unsigned ID_REFRESH_FRAME_RATE = 32771;
// The about box, passed by the player window to its container.
constexpr unsigned ID_APP_ABOUT_CONTAINER = 9;

// Rate commands.
constexpr unsigned ID_RATE_100 = 34145;
constexpr unsigned ID_RATE_50 = 34146;
constexpr unsigned ID_RATE_200 = 34147;
constexpr unsigned ID_RATE_33 = 34148;
constexpr unsigned ID_RATE_120 = 34151;
constexpr unsigned ID_RATE_150 = 34152;
constexpr unsigned ID_RATE_25 = 34153;
constexpr unsigned ID_RATE_10 = 34154;
constexpr unsigned ID_RATE_66 = 34155;
constexpr unsigned ID_RATE_75 = 34156;
constexpr unsigned ID_RATE_90 = 34157;
constexpr unsigned ID_RATE_3 = 34159;
constexpr unsigned ID_RATE_FIRST = ID_RATE_100;
constexpr unsigned ID_RATE_LAST = ID_RATE_3;

// Reverse play from the frame cache at 25 %, 50 % and 100 %.
constexpr unsigned ID_REVERSE_25 = 34170;
constexpr unsigned ID_REVERSE_50 = 34171;
constexpr unsigned ID_REVERSE_100 = 34172;
// The (positive) speed of a reverse command; 0 for any other id.
inline double ReverseRateForCommand(unsigned id) {
    return id == ID_REVERSE_25    ? 0.25
           : id == ID_REVERSE_50  ? 0.5
           : id == ID_REVERSE_100 ? 1.0
                                  : 0.0;
}

// The rate of a rate command; 0 for any other id.
double RateForCommand(unsigned id);

// Strings of the panels.
constexpr unsigned IDS_LOADING_VIDEO = 300;
constexpr unsigned IDS_BUFFERING_VIDEO = 301;
constexpr unsigned IDS_FIND_FOLDER = 600;
constexpr unsigned IDS_FILTER_VIDEO = 50;
constexpr unsigned IDS_FILTER_ALL = 53;
constexpr unsigned IDS_FILTER_BITMAP = 60;
constexpr unsigned IDS_FILTER_JPEG = 61;
constexpr unsigned IDS_FILTER_TIMELINE = 62;
constexpr unsigned IDS_FILTER_PLAYLIST = 67;

// Private messages (Qt event types).
// A panel tells the player window about user activity.
constexpr int WM_PANEL_ACTIVITY = 0x81F4;
// The slider tells the video panel that a drag starts (wParam 1) or ends (0).
constexpr int WM_SLIDER_DRAG = 0x812C;

#pragma once
// The program's icons by resource id: from the desktop's icon theme where it
// has a fitting icon, else the bundled drawing, so an icon is never blank.
#include <QIcon>

// Icon ids of the player's buttons.
constexpr unsigned IDI_HELP = 118;
constexpr unsigned IDI_BACK = 129;
constexpr unsigned IDI_FORWARD = 130;
constexpr unsigned IDI_STEP_FORWARD = 131;
constexpr unsigned IDI_STEP_BACK = 132;
constexpr unsigned IDI_PAUSE = 133;
constexpr unsigned IDI_STOP = 134;
constexpr unsigned IDI_OPEN = 135;
constexpr unsigned IDI_END = 136;
constexpr unsigned IDI_BEGIN = 137;
constexpr unsigned IDI_DEINTERLACE = 142;
constexpr unsigned IDI_FIND = 146;
constexpr unsigned IDI_TWO_VIDEOS = 156;
constexpr unsigned IDI_SYNC = 157;
constexpr unsigned IDI_CONTINUOUS = 162;
constexpr unsigned IDI_MARK_BEGIN = 163;
constexpr unsigned IDI_SNAPSHOT = 167;
constexpr unsigned IDI_RELOAD = 32520;
constexpr unsigned IDI_PLAY = 32521;
constexpr unsigned IDI_MARK_END = 32522;

// The icon with the id (null for an unknown id). When useTheme is false
// only the bundled drawing is used.
QIcon LoadIconResource(unsigned id, bool useTheme = true);
// The bundled drawing alone, rendered for 16 x 16 at device pixel ratios 1
// and 2 (null for an unknown id).
QIcon LoadBundledIcon(unsigned id);

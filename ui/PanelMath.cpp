#include "ui/PanelMath.h"

#include <cstdio>

#include "ui/PlayerIds.h"

double RateForCommand(unsigned id) {
    switch (id) {
        case ID_RATE_100:
            return 1.0;
        case ID_RATE_50:
            return 0.5;
        case ID_RATE_200:
            return 2.0;
        case ID_RATE_33:
            return 1.0 / 3.0;
        case ID_RATE_120:
            return 1.2;
        case ID_RATE_150:
            return 1.5;
        case ID_RATE_25:
            return 0.25;
        case ID_RATE_10:
            return 0.1;
        case ID_RATE_66:
            return 2.0 / 3.0;
        case ID_RATE_75:
            return 0.75;
        case ID_RATE_90:
            return 0.9;
        case ID_RATE_3:
            return 1.0 / 30.0;
        default:
            return 0.0;
    }
}

namespace panel {

std::string RateCaption(double rate) {
    if (rate == 1.0)
        return std::string();
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", int(rate * 100));
    return text;
}

}  // namespace panel

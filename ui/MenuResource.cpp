#include "ui/MenuResource.h"

#include <QAction>

#include "resources/StringTable.h"
#include "ui/UiStrings.h"

namespace {

struct CItemDef {
    unsigned command;  // 0: separator
    unsigned textId;
};

struct CPopupDef {
    unsigned textId;
    std::vector<CItemDef> items;
};

// Menu 144: the Play button's rate menu.
const std::vector<CPopupDef>& RateMenu() {
    static const std::vector<CPopupDef> menu = {
        {IDS_MENU_RUN,
         {{34145, IDS_MENU_RATE_NORMAL},
          {0, 0},
          {34157, IDS_MENU_RATE_90},
          {34156, IDS_MENU_RATE_75},
          {34155, IDS_MENU_RATE_66},
          {34146, IDS_MENU_RATE_50},
          {34148, IDS_MENU_RATE_33},
          {34153, IDS_MENU_RATE_25},
          {34154, IDS_MENU_RATE_10},
          {34159, IDS_MENU_RATE_3},
          {0, 0},
          {34151, IDS_MENU_RATE_120},
          {34152, IDS_MENU_RATE_150},
          {34147, IDS_MENU_RATE_200},
          {0, 0},
          {34170, IDS_MENU_REVERSE_25},
          {34171, IDS_MENU_REVERSE_50},
          {34172, IDS_MENU_REVERSE_100}}},
    };
    return menu;
}

}  // namespace

std::unique_ptr<QMenu> LoadMenuResource(unsigned resourceId, QWidget* parent) {
    const std::vector<CPopupDef>* def = nullptr;
    if (resourceId == IDR_RATE_MENU)
        def = &RateMenu();
    if (!def)
        return nullptr;
    auto menu = std::make_unique<QMenu>(parent);
    for (const CPopupDef& popupDef : *def) {
        QMenu* popup = menu->addMenu(QString::fromStdString(LoadResString(popupDef.textId)));
        for (const CItemDef& item : popupDef.items) {
            if (!item.command) {
                popup->addSeparator();
                continue;
            }
            QAction* action = popup->addAction(QString::fromStdString(LoadResString(item.textId)));
            action->setData(item.command);
        }
    }
    return menu;
}

QMenu* GetSubMenu(QMenu* menu, int index) {
    if (!menu)
        return nullptr;
    if (index < 0)
        return menu;
    const auto actions = menu->actions();
    if (index >= actions.size())
        return nullptr;
    return actions[index]->menu();
}

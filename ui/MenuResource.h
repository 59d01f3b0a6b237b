#pragma once
// Menus as data: each menu resource is a bar of popups whose items carry
// command ids; texts come from the string tables.
#include <QMenu>
#include <memory>

class QWidget;

constexpr unsigned IDR_RATE_MENU = 144;

// Builds the menu with the resource id: a menu whose entries are the
// resource's popups (submenus). Null when there is no such resource.
std::unique_ptr<QMenu> LoadMenuResource(unsigned resourceId, QWidget* parent = nullptr);
// The popup at 'index' of a loaded menu (-1: the menu itself), or null.
QMenu* GetSubMenu(QMenu* menu, int index);

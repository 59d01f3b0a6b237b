#pragma once
// What a host of the control needs beside its automation interface: its
// window, the modified mark and a view of the player inside (for script
// hosts and tests). Answered by the control object next to IDispatch and
// the persistence interfaces.
#include <string>

#include "platform/com/Unknown.h"

class QWidget;

struct IVelotraxControl : IUnknown {
    VA_INTERFACE_ID("8C0E4C55-3E5A-4C8B-9A35-0E7D5D1B6A01");
    // Creates the control's window inside 'parent' (the frame and player
    // with it, or the link box); null when that fails. Once only.
    virtual QWidget* CreateControlWindow(QWidget* parent) = 0;
    virtual QWidget* GetControlWindow() = 0;
    // The frame window carrying the player, and the player window
    // (CVelotraxCtrl); null when there is none.
    virtual QWidget* GetFrameWindow() = 0;
    virtual QWidget* GetPlayerWindow() = 0;
    // The modified mark; 'clear' resets it.
    virtual bool GetModified(bool clear) = 0;
    // A one-line description of the external application's state.
    virtual std::string DescribeExternal() = 0;
    // The stored text of FileName (4), XTL (5) or PlayList (12), also of the
    // write-only ones; empty for other ids.
    virtual std::string GetStoredText(int dispid) = 0;
};

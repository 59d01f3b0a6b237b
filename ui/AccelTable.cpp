#include "ui/AccelTable.h"

#include <QKeyEvent>

namespace {

constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;
constexpr Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;
constexpr Qt::KeyboardModifiers kAlt = Qt::AltModifier;
constexpr Qt::KeyboardModifiers kShift = Qt::ShiftModifier;
constexpr Qt::KeyboardModifiers kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;

// The player's keys: transport, rates, files, marks, and keys of commands
// this player does not carry, which are consumed without effect.
CAccelTable MakePlayerTable() {
    std::vector<CAccelEntry> e = {
        {Qt::Key_Space, kNone, 32774},
        {Qt::Key_Home, kNone, 1503},
        {Qt::Key_Home, kCtrl, 1503},
        {Qt::Key_End, kNone, 1504},
        {Qt::Key_End, kCtrl, 1504},
        {Qt::Key_PageUp, kNone, 1505},
        {Qt::Key_PageUp, kCtrl, 1505},
        {Qt::Key_PageDown, kNone, 1506},
        {Qt::Key_PageDown, kCtrl, 1506},
        {Qt::Key_Left, kNone, 1507},
        {Qt::Key_Up, kNone, 1507},
        {Qt::Key_Left, kCtrl, 1507},
        {Qt::Key_Up, kCtrl, 1507},
        {Qt::Key_Right, kNone, 1508},
        {Qt::Key_Down, kNone, 1508},
        {Qt::Key_Right, kCtrl, 1508},
        {Qt::Key_Down, kCtrl, 1508},
        {Qt::Key_T, kCtrl, 32810},
        {Qt::Key_0, kCtrl, 34145},
        {Qt::Key_1, kCtrl, 34154},
        {Qt::Key_2, kCtrl, 34153},
        {Qt::Key_3, kCtrl, 34148},
        {Qt::Key_5, kCtrl, 34146},
        {Qt::Key_6, kCtrl, 34155},
        {Qt::Key_7, kCtrl, 34156},
        {Qt::Key_9, kCtrl, 34157},
        {Qt::Key_O, kCtrl, 1509},
        {Qt::Key_Return, kNone, 1510},
        {Qt::Key_F, kCtrl, 1512},
        {Qt::Key_D, kCtrl, 1511},
        {Qt::Key_B, kCtrl, 1516},
        {Qt::Key_E, kNone, 1516},
        {Qt::Key_I, kNone, 1516},
        {Qt::Key_E, kCtrl, 1517},
        {Qt::Key_O, kNone, 1517},
        {Qt::Key_R, kNone, 1517},
        {Qt::Key_L, kCtrl, 1515},
        {Qt::Key_S, kCtrl, 1519},
        {Qt::Key_F5, kNone, 32771},
        {Qt::Key_F12, kNone, 1513},
        {Qt::Key_Y, kCtrl, 1514},
        {Qt::Key_M, kCtrl, 1520},
        {Qt::Key_F2, kNone, 32814},
        {Qt::Key_F2, kShift, 32815},
        {Qt::Key_F2, kCtrl, 32813},
        {Qt::Key_F2, kCtrlShift, 32816},
        {Qt::Key_D, kAlt, 32837},
        {Qt::Key_M, kAlt, 32835},
        {Qt::Key_Delete, kCtrl, 32773},
        {Qt::Key_A, kCtrl, 32806},
        {Qt::Key_C, kCtrl, 32804},
        {Qt::Key_X, kCtrl, 32805},
        {Qt::Key_N, kCtrl, 32809},
        {Qt::Key_V, kCtrl, 32807},
        {Qt::Key_S, kCtrlShift, 32808},
        {Qt::Key_R, kCtrl, 32811},
        {Qt::Key_Plus, kNone, 32801, true},
        {Qt::Key_Plus, kAlt, 32801, true},
        {Qt::Key_Equal, kNone, 32801},
        {Qt::Key_Minus, kNone, 32802, true},
        {Qt::Key_Minus, kAlt, 32802, true},
        {Qt::Key_Minus, kNone, 32802},
        {Qt::Key_Asterisk, kAlt, 32803, true},
        {Qt::Key_Down, kAlt, 32829},
        {Qt::Key_Left, kAlt, 32826},
        {Qt::Key_Right, kAlt, 32827},
        {Qt::Key_Up, kAlt, 32828},
    };
    return CAccelTable(std::move(e));
}

// Keys that produce a character exist on the main block and on the keypad;
// a table entry names one of them. Navigation keys are the same key either way.
bool IsCharacterKey(int key) {
    return key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde;
}

}  // namespace

unsigned CAccelTable::Translate(int key, Qt::KeyboardModifiers modifiers) const {
    // The keypad's Enter is the Enter key.
    if (key == Qt::Key_Enter)
        key = Qt::Key_Return;
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    const Qt::KeyboardModifiers mods =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    for (const CAccelEntry& entry : m_entries) {
        if (entry.key != key || entry.modifiers != mods)
            continue;
        if (entry.keypad != keypad && (entry.keypad || IsCharacterKey(key)))
            continue;
        return entry.command;
    }
    return 0;
}

unsigned CAccelTable::Translate(const QKeyEvent& event) const {
    return Translate(event.key(), event.modifiers());
}

const CAccelTable* LoadAccelTable(unsigned resourceId) {
    if (resourceId == IDR_PLAYER_ACCEL) {
        static const CAccelTable table = MakePlayerTable();
        return &table;
    }
    return nullptr;
}

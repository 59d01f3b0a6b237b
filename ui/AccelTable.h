#pragma once
// Accelerator tables as data: key with modifiers -> command id. The tables
// are part of the program's resources and are looked up by their resource id.
#include <QKeyCombination>
#include <vector>

class QKeyEvent;

constexpr unsigned IDR_PLAYER_ACCEL = 102;

struct CAccelEntry {
    Qt::Key key;
    // Only Shift, Ctrl and Alt count; they must match exactly.
    Qt::KeyboardModifiers modifiers;
    unsigned command;
    // The key of the numeric keypad (Numpad +, Numpad -, Numpad *).
    bool keypad = false;
};

class CAccelTable {
public:
    CAccelTable() = default;
    explicit CAccelTable(std::vector<CAccelEntry> entries) : m_entries(std::move(entries)) {}

    // The command a key press maps to, 0 when none.
    unsigned Translate(const QKeyEvent& event) const;
    unsigned Translate(int key, Qt::KeyboardModifiers modifiers) const;
    const std::vector<CAccelEntry>& Entries() const { return m_entries; }
    bool IsEmpty() const { return m_entries.empty(); }

private:
    std::vector<CAccelEntry> m_entries;
};

// The table with the resource id, or null when there is none.
const CAccelTable* LoadAccelTable(unsigned resourceId);

// Command routing: first handler wins along the chain, update handlers
// decide enable/check, a disabled command does not run through its key.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtTest/QTest>
#include <string>
#include <vector>

#include "tests/ui/UiTest.h"
#include "ui/AccelTable.h"
#include "ui/DialogExt.h"
#include "ui/MenuResource.h"
#include "ui/NiftyButton.h"

namespace {

// A target that logs which of its handlers ran.
class CLogTarget : public CCmdTarget {
public:
    CLogTarget(std::string name, std::vector<std::string>& log)
        : m_name(std::move(name)), m_log(log) {}
    void Handle(unsigned id) {
        OnCommand(id, [this, id] { m_log.push_back(m_name + ":" + std::to_string(id)); });
    }
    void Update(unsigned id, bool enabled, int check) {
        OnUpdateCommand(id, [enabled, check](CCmdUI* ui) {
            ui->Enable(enabled);
            ui->SetCheck(check);
        });
    }
    std::string m_name;
    std::vector<std::string>& m_log;
};

class CTestDialog : public CDialogExt {
public:
    explicit CTestDialog(std::vector<std::string>& log) : m_log(log) {
        OnCommand(1500, [this] { m_log.push_back("play"); });
        OnUpdateCommand(1500, [this](CCmdUI* ui) {
            ui->Enable(m_bPlayEnabled);
            ui->SetCheck(m_bRunning);
        });
        OnCommand(34146, [this] { m_log.push_back("rate50"); });
        OnUpdateCommand(34146, [](CCmdUI* ui) { ui->SetRadio(true); });
        OnCommand(32774, [this] { m_log.push_back("toggle"); });
        OnUpdateCommand(32774, [this](CCmdUI* ui) { ui->Enable(m_bToggleEnabled); });
    }
    void OnIdleUpdateCmdUI() override {
        ++m_nIdleUpdates;
        CDialogExt::OnIdleUpdateCmdUI();
    }
    void CreateControls() override {
        resize(200, 60);
        m_play = AddControl(new CNiftyButton(this), 1500);
        m_play->setGeometry(4, 4, 40, 24);
        m_edit = AddControl(new QLineEdit(this), 1022);
        m_edit->setGeometry(50, 4, 100, 24);
        AddControl(new QPushButton(this), 1509)->setGeometry(160, 4, 30, 24);
    }
    std::vector<std::string>& m_log;
    bool m_bPlayEnabled = true;
    bool m_bRunning = false;
    bool m_bToggleEnabled = true;
    int m_nIdleUpdates = 0;
    CNiftyButton* m_play = nullptr;
    QLineEdit* m_edit = nullptr;
};

}  // namespace

TEST(CmdRouting, FirstHandlerAlongTheChainWins) {
    std::vector<std::string> log;
    CLogTarget panel("panel", log), player("player", log), app("app", log);
    panel.SetNextCmdTarget(&player);
    panel.Handle(1509);
    player.Handle(1509);
    player.Handle(1500);
    app.Handle(9);
    app.Handle(1500);
    CCmdTarget::SetAppCmdTarget(&app);
    struct {
        unsigned id;
        bool handled;
        const char* by;
    } cases[] = {{1509, true, "panel:1509"},
                 {1500, true, "player:1500"},
                 {9, true, "app:9"},
                 {4711, false, ""}};
    for (const auto& c : cases) {
        log.clear();
        EXPECT_EQ(panel.RouteCommand(c.id), c.handled) << c.id;
        EXPECT_EQ(log.empty() ? std::string() : log.front(), c.by) << c.id;
        EXPECT_LE(log.size(), 1u);
    }
    // A disabled command is dropped (reported handled) before it runs.
    panel.Update(1509, false, 0);
    log.clear();
    EXPECT_TRUE(panel.RouteCommand(1509));
    EXPECT_TRUE(log.empty());
    // An update answered early does not reach later targets; one that asks
    // to continue does.
    CCmdUI ui(1509);
    EXPECT_TRUE(panel.RouteUpdate(ui));
    EXPECT_FALSE(ui.m_bEnabled);
    CCmdTarget::SetAppCmdTarget(nullptr);
}

TEST(CmdRouting, AcceleratorTableMapsKeysLikeThePlayer) {
    const CAccelTable* table = LoadAccelTable(IDR_PLAYER_ACCEL);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(LoadAccelTable(4711), nullptr);
    const auto ctrl = Qt::ControlModifier, alt = Qt::AltModifier, none = Qt::NoModifier,
               pad = Qt::KeypadModifier, shift = Qt::ShiftModifier;
    struct {
        int key;
        Qt::KeyboardModifiers mods;
        unsigned command;
    } cases[] = {
        {Qt::Key_Space, none, 32774},
        {Qt::Key_Home, ctrl, 1503},
        {Qt::Key_Up, none, 1507},
        {Qt::Key_Down, ctrl, 1508},
        {Qt::Key_Down, alt, 32829},
        {Qt::Key_3, ctrl, 34148},
        {Qt::Key_4, ctrl, 0},
        {Qt::Key_Enter, pad, 1510},
        {Qt::Key_Return, none, 1510},
        {Qt::Key_E, none, 1516},
        {Qt::Key_E, ctrl, 1517},
        {Qt::Key_E, shift, 0},
        {Qt::Key_Plus, pad, 32801},
        {Qt::Key_Plus, none, 0},
        {Qt::Key_Equal, none, 32801},
        {Qt::Key_Minus, none, 32802},
        {Qt::Key_Minus, pad, 32802},
        {Qt::Key_Asterisk, alt | pad, 32803},
        {Qt::Key_F2, ctrl | shift, 32816},
        {Qt::Key_S, ctrl | shift, 32808},
        {Qt::Key_3, ctrl | pad, 0},
        {Qt::Key_Left, pad, 1507},
    };
    for (const auto& c : cases)
        EXPECT_EQ(table->Translate(c.key, c.mods), c.command) << c.key << " " << c.mods.toInt();
}

TEST(CmdRouting, DialogUpdatesControlsAndFiltersAccelerators) {
    vtest::UiApp();
    std::vector<std::string> log;
    CTestDialog dialog(log);
    ASSERT_TRUE(dialog.Create(nullptr, false));
    dialog.SetAccelerators(IDR_PLAYER_ACCEL);
    dialog.show();
    QApplication::setActiveWindow(&dialog);

    // Update handlers reach the controls; a control without handler keeps its state.
    dialog.m_bRunning = true;
    dialog.UpdateControls();
    EXPECT_TRUE(dialog.m_play->GetCheck());
    EXPECT_TRUE(dialog.GetDlgItem(1509)->isEnabled());
    dialog.m_bPlayEnabled = false;
    dialog.UpdateControls();
    EXPECT_FALSE(dialog.m_play->isEnabled());

    // Space toggles play/pause unless the focus is in an edit field, where
    // it types a space.
    dialog.m_play->setEnabled(true);
    dialog.m_play->setFocus();
    QTest::keyClick(dialog.m_play, Qt::Key_Space);
    EXPECT_EQ(log, std::vector<std::string>{"toggle"});
    log.clear();
    dialog.m_edit->setFocus();
    QTest::keyClick(dialog.m_edit, Qt::Key_Space);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(dialog.m_edit->text(), " ");
    // A disabled command does not run through its key either.
    dialog.m_bToggleEnabled = false;
    dialog.m_play->setFocus();
    QTest::keyClick(dialog.m_play, Qt::Key_Space);
    EXPECT_TRUE(log.empty());
    dialog.m_bToggleEnabled = true;

    // Ctrl+5 reaches the rate handler; a click on the disabled play command
    // through the router is dropped.
    dialog.m_play->setFocus();
    QTest::keyClick(dialog.m_play, Qt::Key_5, Qt::ControlModifier);
    EXPECT_EQ(log, std::vector<std::string>{"rate50"});
    log.clear();
    dialog.m_bPlayEnabled = false;
    EXPECT_TRUE(dialog.RouteCommand(1500));
    EXPECT_TRUE(log.empty());
    dialog.m_bPlayEnabled = true;
    dialog.m_play->click();
    EXPECT_EQ(log, std::vector<std::string>{"play"});

    // The rate menu: items carry their ids; the update marks the rate and
    // greys items without a handler.
    std::unique_ptr<QMenu> menu = LoadMenuResource(IDR_RATE_MENU);
    ASSERT_TRUE(menu);
    QMenu* run = GetSubMenu(menu.get(), 0);
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->actions().size(), 18);  // 12 rates, 3 reverse speeds, 3 separators
    dialog.OnInitMenuPopup(run);
    for (QAction* action : run->actions()) {
        unsigned id = GetMenuItemID(action);
        if (!id)
            continue;
        EXPECT_EQ(action->isEnabled(), id == 34146) << id;
        EXPECT_EQ(action->isChecked(), id == 34146) << id;
    }
}

TEST(CmdRouting, IdleUpdatesOnlyAfterEventsAndTooltipsFromStrings) {
    vtest::UiApp();
    std::vector<std::string> log;
    CTestDialog dialog(log);
    ASSERT_TRUE(dialog.Create(nullptr, false));
    dialog.show();
    // The rounds run here only, not from the timer.
    CDialogExt::SetIdleUpdateInterval(24 * 3600 * 1000);
    // Updating settles; with no event since, the next round is skipped.
    for (int i = 0; i < 3 && CDialogExt::RunIdleUpdates(); ++i) {
    }
    const int rounds = dialog.m_nIdleUpdates;
    EXPECT_GT(rounds, 0);
    EXPECT_FALSE(CDialogExt::RunIdleUpdates());
    QEvent poke(QEvent::User);
    QApplication::sendEvent(dialog.m_edit, &poke);
    EXPECT_TRUE(CDialogExt::RunIdleUpdates());
    EXPECT_EQ(dialog.m_nIdleUpdates, rounds + 1);
    CDialogExt::SetIdleUpdateInterval(100);

    // "status text\ntooltip": the tooltip is the part after the line break.
    dialog.AddTool(1500, 34146);
    EXPECT_EQ(dialog.m_play->toolTip().toStdString(), "Play Rate 50%");
    dialog.AddTool(1500, 0);
    EXPECT_TRUE(dialog.m_play->toolTip().isEmpty());
}

#pragma once
// The program's player window: a top-level window holding the player
// (CVelotraxCtrl) that remembers its size and place.
#include <QMainWindow>
#include <string>

#include "ui/PanelInterfaces.h"

class CVelotraxCtrl;

class CPlayerWindow : public QMainWindow, public IVideoPlayerContainer {
public:
    CPlayerWindow();
    ~CPlayerWindow() override;

    CVelotraxCtrl* GetPlayer() const { return m_player; }
    // Places the window where it was last (or at a size that fits the
    // panels) and shows it.
    void ShowPlaced();
    // Saves the placement now (also done when the window closes).
    void SavePlacement();

    // ---- IVideoPlayerContainer
    void OnPlayerChanged(CVideoPlayerCtrl* player, int flag) override;
    bool OnPlayerCommand(unsigned id) override;
    bool OnPlayerUpdateCommand(CCmdUI* cmdUI) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void UpdateTitle();

    CVelotraxCtrl* m_player = nullptr;
    bool m_placementSaved = false;
};

// The demo clip installed with the program (or the one in the build
// tree); empty when neither exists.
std::string FindDemoClip();
// True when no display is there to show a window on.
bool IsHeadless();

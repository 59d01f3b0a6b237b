#pragma once
// CPlayPanel: the base of the player window's panels (the video panel and
// the control panel). It gives them a common creation protocol, a table of
// named options handed in by the player window, keyboard pre-processing
// and the activity message to the parent.
#include <QSize>
#include <cstdint>
#include <map>
#include <string>

#include "options/AppOpt.h"
#include "options/AppOptNotify.h"
#include "ui/DialogExt.h"

class QKeyEvent;

// A panel's option record: where the option lives and its default.
struct CPlayOpt {
    std::string section;
    std::string key;
    CAppOpt def;
};

class CPlayPanel : public CDialogExt, public IAppOptNotify {
public:
    explicit CPlayPanel(QWidget* parent = nullptr);
    ~CPlayPanel() override;

    // Builds the panel from its template inside 'parent', records the
    // preferred size and loads the options.
    void Create(unsigned templateId, QWidget* parent);
    unsigned GetTemplateId() const { return m_templateId; }

    virtual QSize GetPreferredSize() { return m_preferredSize; }
    virtual void SetPlayOpt(int id, const CPlayOpt& option);
    virtual bool IsFullScreen() { return false; }
    virtual void LoadPanelOptions() {}
    virtual void SavePanelOptions() {}
    virtual void OnEscapeKey() {}
    virtual bool OnEnterKey(bool alt) { return false; }
    virtual void UpdatePanelMode() {}
    virtual void OnPanelActivate() {}

    void SetPanelMode(int mode);
    int GetPanelMode() const { return m_panelMode; }
    // The panel that pre-processes the keys this one does not consume.
    void SetKeyboardFallback(CPlayPanel* panel) { m_keyFallback = panel; }
    CPlayPanel* GetKeyboardFallback() const { return m_keyFallback; }

    // ---- options by id
    bool HasPlayOpt(int id) const { return m_options.count(id) != 0; }
    const CPlayOpt* FindPlayOpt(int id) const;
    // The stored value, or the record's default; an empty value when the
    // id is not bound.
    CAppOpt GetOpt(int id) const;
    void SetOpt(int id, const CAppOpt& value);
    // Deletes the stored value, so the default applies again.
    void ResetOpt(int id);
    // Subscribes to changes with the id as cookie.
    void AdviseOpt(int id);

    // Keyboard pre-processing: true when the key event is consumed.
    bool PreTranslateMessage(QKeyEvent* event) override;
    // Saves the options once (window destruction).
    void SaveOptionsOnce();

    bool OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI) override;

protected:
    // Posts the activity message to the parent.
    void PostActivity();
    // The plain handling of a key: accelerators and the dialog's own rules.
    bool DialogPreTranslate(QKeyEvent* event) { return CDialogExt::PreTranslateMessage(event); }

    bool event(QEvent* event) override;

    // IAppOptNotify
    void OnOptionChanged(const CAppOpt& value, const std::string& section, const std::string& name,
                         uint32_t cookie) override {}

private:
    QSize m_preferredSize;
    int m_panelMode = 0;
    unsigned m_templateId = 0;
    std::map<int, CPlayOpt> m_options;
    CPlayPanel* m_keyFallback = nullptr;
    bool m_advised = false;
    bool m_saved = false;
};

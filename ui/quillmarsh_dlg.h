// The main dialog: holds the settings state, shows it as radio pairs, and applies the user's
// choices on OK.
#pragma once

#include "engine/settings_engine.h"
#include "fw/dialog.h"
#include "ui/ok_flow.h"
#include "ui/radio_pairs.h"

class CQuillmarshDlg : public CDialog, private RadioPanel, private DialogCloser {
public:
    explicit CQuillmarshDlg(CWnd* pParent = nullptr);

protected:
    BOOL OnInitDialog() override;
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnAllOff();
    void OnRestoreInitial();
    void OnBnClickedOk();
    void OnSuperFetchOn();
    void OnSuperFetchOff();

    DECLARE_MESSAGE_MAP()

private:
    void AddAboutMenuItem();
    void ShowSettings(const SettingValues& values);

    void SetCheck(int id, bool checked) override;
    bool IsChecked(int id) const override;
    void Enable(int id, bool enabled) override;
    void CloseWithOk() override;

    SettingsEngine m_engine;
    HICON m_hIcon;
};

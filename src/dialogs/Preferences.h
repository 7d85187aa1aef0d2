#pragma once
// TfrmPref: "偏好设置" — most keys of the settings file on ten pages. It
// loads from the program's settings, and on OK writes every key in one
// action: the file is either as it was or fully written.

#include "common/Prompt.h"
#include "sites/IniFile.h"
#include "sites/Settings.h"

#include <QDialog>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QSpinBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

// A sound of the settings: 0 none, 1..5 the named system sounds, 6 the wave file.
void PlaySettingSound(int sound, const std::string& wave);

class TfrmPref : public QDialog {
    Q_OBJECT

public:
    // What the dialog shows that the settings do not hold: keys read from
    // the file, the client's proxy and log file, the panes' font.
    struct Sources {
        bool HideHeader = false, SelectLine = false;
        std::string ProxyHost, ProxyUser, ProxyPass;  // the password in plain text
        int ProxyPort = 21;
        std::string LogFile, CustomIP;
        std::vector<std::string> NoProxyHosts;
        std::vector<std::pair<std::string, std::string>> Editors;  // extensions, program
        QString FontName;
        int FontSize = 9;
    };
    static Sources ReadSources(const TIniFile& settingsFile);

    TfrmPref(const TSettings& settings, const Sources& sources, IPrompt& prompt, QWidget* parent = nullptr);

    // Every key in the order of the dialog's writing, then the lists, as one
    // flush. False when the file could not be written (the reason in the
    // file's LastError).
    bool Write(TIniFile& file) const;
    // The "Setup" keys as Write gives them, in order.
    std::vector<std::pair<std::string, std::string>> Keys() const;

    // ---- general
    QLineEdit *txtEmail = nullptr, *txtLocalPath = nullptr, *txtLogFile = nullptr, *txtViewer = nullptr;
    QCheckBox *chkLog = nullptr, *chkTimestamp = nullptr;
    QRadioButton *radDefault = nullptr, *radViewer = nullptr;
    // ---- advanced
    QLineEdit *txtTimeout = nullptr, *txtRetry = nullptr, *txtRetryDelay = nullptr, *txtIdleInterval = nullptr,
              *txtPacketTimeout = nullptr;
    QCheckBox *chkShowSiteManager = nullptr, *chkConnectDrop = nullptr, *chkIdle = nullptr,
              *chkStallProtection = nullptr;
    QComboBox* cboDoubleClick = nullptr;
    QSpinBox* spnMaxTransfers = nullptr;  // "MaxTransfers": files at once, on their own connections
    QSpinBox *spnDownloadLimit = nullptr, *spnUploadLimit = nullptr;  // KiB/s, 0: none
    QRadioButton *rdoNOOP = nullptr, *rdoPWD = nullptr;
    // ---- view
    QCheckBox *chkLocalRefresh = nullptr, *chkAutoSizeLocal = nullptr, *chkRemoteRefresh = nullptr,
              *chkAutoSizeRemote = nullptr, *chkSelectLine = nullptr, *chkHideHeader = nullptr, *chkShowMsg = nullptr,
              *chkShowDirMsg = nullptr, *chkShowHidden = nullptr, *chkHide = nullptr;
    QButtonGroup* grpSortAlpha = nullptr;
    QPushButton* btnFont = nullptr;
    QLabel* pnlFont = nullptr;
    // ---- options: ConfirmDel, ExitWarn, ConfirmQueue, ConfirmMove, then the others
    std::vector<QCheckBox*> chkOptions;
    // ---- transfer
    QComboBox *cboDuplicateLocal = nullptr, *cboDuplicateRemote = nullptr, *cboTransferOption = nullptr;
    QButtonGroup *grpFileCase = nullptr, *grpTransferSpeed = nullptr;
    QCheckBox *chkPreserveDate = nullptr, *chkDialogTimer = nullptr, *chkGetLink = nullptr, *chkUseAppe = nullptr,
              *chkUploadTempName = nullptr;
    // ---- skip list
    QCheckBox *chkEnableSkip = nullptr, *chkSkipNullFile = nullptr, *chkSkipEmptyDir = nullptr,
              *chkSkipDirectories = nullptr;
    QLineEdit* txtSkipName = nullptr;
    QListWidget* SkipList = nullptr;
    QPushButton *btnSkipAdd = nullptr, *btnSkipDelete = nullptr;
    // ---- editors
    QTreeWidget* EditorList = nullptr;
    QLineEdit *txtEditExtension = nullptr, *txtEditEditor = nullptr, *txtEditor = nullptr;
    QPushButton *btnEditorAdd = nullptr, *btnEditorDelete = nullptr;
    // ---- DDE
    QLineEdit *txtService = nullptr, *txtTopic = nullptr, *txtCommand = nullptr;
    QCheckBox *chkDDEPrompt = nullptr, *chkDDEFilter = nullptr, *chkDDEShow = nullptr;
    // ---- sounds
    QComboBox *cboConnectSound = nullptr, *cboTransferSound = nullptr;
    QLineEdit *txtConnectWAV = nullptr, *txtTransferWav = nullptr;
    // ---- proxy
    QCheckBox *chkEnableProxy = nullptr, *chkPasvMode = nullptr, *chkAlternate = nullptr;
    QCheckBox* chkTlsWhenOffered = nullptr;
    QLineEdit *txtProxyHost = nullptr, *txtProxyPort = nullptr, *txtProxyUser = nullptr, *txtProxyPass = nullptr;
    QButtonGroup* grpPasvMode = nullptr;
    QPlainTextEdit* MemoProxy = nullptr;

    void btnSkipAddClick();
    void btnSkipDeleteClick();
    void btnEditorAddClick();
    void btnEditorDeleteClick();
    // Instead of the sound itself; tests put their own in.
    std::function<void(int sound, const std::string& wave)> PlaySound = PlaySettingSound;

protected:
    // Enter in a field that feeds a list adds to the list; OK is not pressed
    // with a pattern or editor typed but not added.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* generalPage(const TSettings& s, const Sources& src);
    QWidget* advancedPage(const TSettings& s);
    QWidget* viewPage(const TSettings& s, const Sources& src);
    QWidget* optionsPage(const TSettings& s);
    QWidget* transferPage(const TSettings& s);
    QWidget* skipPage(const TSettings& s);
    QWidget* editorsPage(const TSettings& s, const Sources& src);
    QWidget* ddePage(const TSettings& s);
    QWidget* soundsPage(const TSettings& s);
    QWidget* proxyPage(const TSettings& s, const Sources& src);
    QLineEdit* withChooser(QLayout* row, QLineEdit* edit, std::function<void()> choose);
    void chooseProgram(QLineEdit* edit, const char* title);

    IPrompt& m_prompt;
    std::string m_customIP;
    QString m_fontName;
    int m_fontSize;
};

#pragma once
// TfrmSite: "站点管理器" — the site groups, each group's sites with every
// field and option, the sites' statistics; connects to the chosen site. In
// target-site mode ("目标站点") it is reduced to picking a site.

#include "sites/SiteDb.h"

#include <QDialog>

#include <array>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

class TfrmSite : public QDialog {
    Q_OBJECT

public:
    enum class Mode { Normal, TargetSite };
    // autoSave: a modified site is saved without asking when it is left.
    TfrmSite(TSiteDatabase& sites, IPrompt& prompt, bool autoSave, Mode mode = Mode::Normal, QWidget* parent = nullptr);

    // Fills the dialog: the group and site of the last close, or the group
    // that lists the given site, with that site shown.
    void Opening(const std::string& site = {});

    // ---- what the caller acts on after it closed
    // The site to connect to ("连接", or OK in target-site mode); empty when
    // the dialog was left otherwise.
    const std::string& ChosenSite() const { return m_chosen; }
    int ChosenGroup() const { return m_chosenGroup; }
    // After every change of groups or sites: the site menu follows.
    std::function<void()> OnSitesChanged;

    // ---- parts
    QComboBox* GroupList = nullptr;
    QListWidget* SiteList = nullptr;
    QMenu* SiteMenu = nullptr;
    QMenu* mnuMoveTo = nullptr;
    QAction* mnuDelete = nullptr;
    QPushButton *btnConnect = nullptr, *btnExit = nullptr, *btnAddGroup = nullptr, *btnDeleteGroup = nullptr,
                *btnImport = nullptr, *btnAddSite = nullptr, *btnDeleteSite = nullptr, *btnApply = nullptr,
                *btnRename = nullptr, *btnLocalPath = nullptr, *btnReset = nullptr;
    QTabWidget* Details = nullptr;
    QLineEdit *txtSiteName = nullptr, *txtServer = nullptr, *txtPort = nullptr, *txtUsername = nullptr,
              *txtPassword = nullptr, *txtLocalPath = nullptr, *txtRemotePath = nullptr, *txtAccount = nullptr,
              *txtTimeout = nullptr, *txtLocalFilter = nullptr, *txtRemoteFilter = nullptr, *txtRetry = nullptr;
    QCheckBox *chkAnonymous = nullptr, *chkSavePass = nullptr;
    QPlainTextEdit* SiteMemo = nullptr;
    QComboBox* cboServerType = nullptr;
    QComboBox* cboProtocol = nullptr;    // the site's "Protocol": FTP or SFTP
    QComboBox* cboEncryption = nullptr;  // the site's "TLS": default, off, explicit, implicit
    QComboBox* cboCharset = nullptr;     // the site's "Charset": automatic or one charset
    QComboBox* cboListing = nullptr;     // the site's "Listing": MLSD where offered, or LIST only
    // The site's "MaxTransfers", "DownloadLimit", "UploadLimit" (empty: the preferences').
    QLineEdit *txtMaxTransfers = nullptr, *txtDownloadLimit = nullptr, *txtUploadLimit = nullptr;
    QGroupBox* grpTransMode = nullptr;
    std::array<QRadioButton*, 4> radTransMode{};  // ASCII, binary, automatic, user preset
    // The option boxes; the three-state ones show "use the program's setting" grey.
    QCheckBox *chkAntiIdle = nullptr, *chkRestore = nullptr, *chkLogSession = nullptr, *chkRenameTypes = nullptr,
              *chkShowHidden = nullptr, *chkPasv = nullptr, *chkResume = nullptr, *chkSKey = nullptr,
              *chkAppe = nullptr, *chkNoProxy = nullptr;
    QLabel *lblConnections = nullptr, *lblLastConnect = nullptr, *lblFilesUp = nullptr, *lblFilesDown = nullptr,
           *lblBytesUp = nullptr, *lblBytesDown = nullptr;

    // ---- handlers
    void GroupListChange();
    void SiteListClick();  // the clicked site shown, after the modified one is left
    void ShowSite(std::string name);  // by value: callers pass m_shown, which it resets
    bool SaveSite();  // "应用"
    void btnAddSiteClick();
    void btnDeleteSiteClick();
    void btnRenameClick();
    void MoveSites(int group);  // "移到": the selected sites into another group
    void btnAddGroupClick();
    void btnDeleteGroupClick();
    void btnImportClick();
    void btnResetClick();
    void btnConnectClick();
    void btnExitClick();
    void btnLocalPathClick();
    void PasswordMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers);

    bool Modified() const { return m_modified; }
    const std::string& ShownSite() const { return m_shown; }
    std::vector<std::string> SelectedSites() const;

protected:
    void done(int result) override;  // the last group and site remembered
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildDetails();
    void buildTargetMode();
    void resetFields();
    void updateButtons();
    void leaveModified();
    void setDetailsVisible(bool visible);
    void fillGroups(int select);
    void fillSites();
    void rebuildMoveMenu();
    void writeGroups();
    void writeGroupSites(const std::vector<std::string>& names);
    void showStats();
    void changed();
    bool saveSitesFile();
    void showAfterRemoval(int firstRemovedRow);
    void anonymousToggled(bool on);
    std::string currentGroup() const;
    TSiteRecord recordFromFields(const std::string& name) const;

    TSiteDatabase& m_sites;
    IPrompt& m_prompt;
    bool m_autoSave;
    Mode m_mode;
    bool m_modified = false;
    bool m_loading = false;  // fields filled by the program: no modified flag
    std::string m_shown;
    std::string m_resume;  // the shown site's opaque "Resume", written back unchanged
    std::string m_unreadKeyring;  // the shown site's password is in a keyring not readable now
    std::string m_chosen;
    int m_chosenGroup = -1;
    std::vector<std::string> m_groups;  // GroupList's order
};

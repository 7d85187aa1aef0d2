#pragma once
// The quick-connect bar: the server field with the session's history, the
// user, password and port fields, and the connect and disconnect buttons on
// the command toolbar. A new server text starts a new login; an ftp://
// address copied elsewhere while nothing is connected connects.

#include "app/WindowParts.h"

#include <QObject>
#include <QString>

#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLineEdit;
class QMainWindow;
class QToolBar;

class TQuickConnect : public QObject {
    Q_OBJECT

public:
    // The bar goes into the window; the buttons onto the command toolbar.
    TQuickConnect(TWindowParts& parts, QMainWindow* window, QToolBar* commands);
    // The environment variable a window started by "新建窗口" hands its
    // password in (readable by this user only), never its command line.
    static constexpr const char* HandedPasswordVariable = "CORVYNE_HANDED_PASSWORD";

    QToolBar* Bar() const { return m_bar; }
    QString Server() const;  // as typed
    QString User() const;
    QString Password() const;
    QString Port() const;
    // A host text empties the other fields; the others are set when given.
    void Fill(const QString& host, const std::optional<std::string>& user = {},
              const std::optional<std::string>& pass = {}, const std::optional<QString>& port = {});
    // The fields after the server field, those given.
    void SetLogin(const std::optional<std::string>& user, const std::optional<std::string>& pass,
                  const std::optional<QString>& port);
    // A host text from the command line, with a password handed over by the
    // window that started this one.
    void FillHanded(const QString& text);
    void Connect(bool prepared = false);  // prepared: keeps the after-login action
    void Disconnect();
    bool CanConnect() const;
    bool CanDisconnect() const;
    void SetInfoVisible(bool visible);  // the fields after the server field, with their labels
    bool InfoVisible() const;

    // For tests: the fields and buttons as the user sees them.
    QComboBox* ServerField() const { return m_server; }
    QLineEdit* UserField() const { return m_user; }
    QLineEdit* PasswordField() const { return m_pass; }
    QLineEdit* PortField() const { return m_port; }
    QAction* ConnectButton() const { return m_connect; }
    QAction* DisconnectButton() const { return m_disconnect; }

private:
    void serverEdited();
    void updateButtons();
    void showHistory(const std::vector<std::string>& items);
    void clipboardChanged();

    TWindowParts& m_parts;
    QToolBar* m_bar = nullptr;
    QComboBox* m_server = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_pass = nullptr;
    QLineEdit* m_port = nullptr;
    QAction* m_connect = nullptr;
    QAction* m_disconnect = nullptr;
    std::vector<QAction*> m_info;
    bool m_settingFields = false;
};

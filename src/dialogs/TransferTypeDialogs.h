#pragma once
// The two lists of the transfer rules, each in its own dialog: TfrmASCII
// (the name patterns sent in ASCII mode) and TfrmRename (extension pairs
// renamed between the local and the remote side). OK writes the list into
// the settings file and the settings in memory.

#include "sites/IniFile.h"
#include "sites/Settings.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;

class TfrmASCII : public QDialog {
    Q_OBJECT

public:
    TfrmASCII(TIniFile& settingsFile, TSettings& settings, QWidget* parent = nullptr);
    QLineEdit* edtExtension = nullptr;
    QListWidget* lstExtensions = nullptr;
    QCheckBox* chkNoExtensions = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnDelete = nullptr;
    QPushButton* btnOK = nullptr;
    // Written and applied; false when the file could not be saved.
    bool Save();

private:
    TIniFile& m_file;
    TSettings& m_settings;
};

class TfrmRename : public QDialog {
    Q_OBJECT

public:
    TfrmRename(TIniFile& settingsFile, TSettings& settings, QWidget* parent = nullptr);
    QLineEdit* edtLocal = nullptr;
    QLineEdit* edtRemote = nullptr;
    QTreeWidget* lstRules = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnDelete = nullptr;
    QPushButton* btnOK = nullptr;
    bool Save();

private:
    TIniFile& m_file;
    TSettings& m_settings;
};

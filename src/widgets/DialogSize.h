#pragma once
// A dialog that opens at the size its user last gave it, never smaller than
// what shows all of it, and remembers a new size when it closes (section
// "Dialogs" of the settings file, "width,height").

#include "sites/IniFile.h"

#include <QObject>

#include <string>

class QDialog;

class TDialogSize : public QObject {
    Q_OBJECT

public:
    // Owned by the dialog; watches its showing and hiding.
    TDialogSize(QDialog& dialog, TIniFile& settings, std::string key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QDialog& m_dialog;
    TIniFile& m_settings;
    std::string m_key;
};

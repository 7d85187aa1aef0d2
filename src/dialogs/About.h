#pragma once
// The about box: the application icon, the product name, the version label
// ("版本:") and an OK button.

#include <QDialog>

class TVersionLabel;

class TfrmAbout : public QDialog {
    Q_OBJECT

public:
    explicit TfrmAbout(QWidget* parent = nullptr);
    TVersionLabel* lblVersion = nullptr;
};

// The splash window shown while the main window builds itself.
class TfrmSplash : public QWidget {
    Q_OBJECT

public:
    TfrmSplash();
    TVersionLabel* lblVersion = nullptr;
};

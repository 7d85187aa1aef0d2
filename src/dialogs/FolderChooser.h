#pragma once
// The folder chooser: TCorvBrowseDir holds what is asked and the answer;
// its dialog TfrmBrowse shows the folder tree of one mounted volume, the
// list of volumes, and the path that will be the answer.

#include "common/Prompt.h"

#include <QDialog>
#include <QString>

#include <functional>

class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QTreeView;

class TfrmBrowse : public QDialog {
    Q_OBJECT

public:
    TfrmBrowse(IPrompt& prompt, QWidget* parent = nullptr);

    QLabel* lblText = nullptr;
    QLineEdit* txtPath = nullptr;
    QTreeView* DirectoryBox = nullptr;
    QComboBox* DriveBox = nullptr;
    QString TargetFolder;  // added to the chosen folder in the path field

    // The tree shows dir (and the volume holding it); the path field follows.
    void SetDirectory(const QString& dir);
    QString Directory() const;  // the tree's current folder
    // A volume chosen: its root, or, when it cannot be entered, the question
    // to retry; cancelling goes back to the volume chosen before.
    void SelectDrive(const QString& root);
    // Whether a volume's root can be entered; tests put their own in.
    std::function<bool(const QString& root)> CanEnter;

private:
    void follow();
    IPrompt& m_prompt;
    QFileSystemModel* m_model = nullptr;
    QString m_drive;
};

class TCorvBrowseDir {
public:
    QString TargetFolder;
    QString Directory;  // the answer
    QString CaptionText;
    bool ReadOnly = false;
    QString InitialDir;
    // True for OK, with Directory set.
    bool Execute(IPrompt& prompt, QWidget* parent);
};

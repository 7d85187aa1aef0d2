#pragma once
// The local pane: the rows of one local folder, its path box of volumes and
// levels, and moving between folders.

#include "app/FilePane.h"

class TLocalPane : public TFilePane {
    Q_OBJECT

public:
    TLocalPane(TWindowParts& parts, QObject* parent);
    bool IsRemote() const override { return false; }

    const QString& Directory() const { return m_dir; }  // ends with "/"
    void SetDirectory(const QString& dir);
    void List();  // the folder again (a gone folder falls back to the start folder)
    // A site's own local folder and filter, applied when it is connected to.
    void ApplySite(const std::string& dir, const std::string& filter);

    void Refresh() override { List(); }
    void AskChangeDirectory() override;
    void Up() override;
    void Parent() override;

Q_SIGNALS:
    // Listed again; rowsWanted: the rows are worth telling the automation link.
    void Listed(bool rowsWanted);

protected:
    void openRow(int row) override;
    bool autoSize() const override;
    void filterChanged() override { List(); }

private:
    bool addRows(bool parentWanted);  // true when ".." was among them
    void rebuildPathBox();
    bool transferring() const;

    QString m_dir;
};

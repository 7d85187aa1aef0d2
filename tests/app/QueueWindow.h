#pragma once
// The main window for queue tests: its own data folder, shown, every
// question answered through the prompt interface and recorded.

#include "RealServers.h"
#include "TestSupport.h"
#include "app/Main.h"
#include "console/cxGraphics.h"

#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

// No dialog may open in a test: questions are answered no and recorded.
struct NoPrompt : IPrompt {
    std::vector<std::string> asked;
    bool confirm = false;                                    // the answer to yes/no questions
    ExistingFileAnswer existing = ExistingFileAnswer::Skip;  // to the file-exists question
    std::vector<std::string> texts;                          // answers to text questions, in turn (none: cancel)
    void ShowMessage(MessageKind, const std::string& text) override { asked.push_back(text); }
    bool Confirm(const std::string& text) override
    {
        asked.push_back(text);
        return confirm;
    }
    ExistingFileAnswer AskExistingFile(ExistingFileRequest& request) override
    {
        asked.push_back(request.name);
        if (existing == ExistingFileAnswer::Rename)
            request.newName += ".new";  // beside the old one
        return existing;
    }
    int newMode = -1;  // the properties dialog's answer: that mode (-1: OK unchanged)
    std::vector<PropertiesRequest> shown;
    bool EditProperties(PropertiesRequest& request) override
    {
        shown.push_back(request);
        if (newMode >= 0)
            request.mode = newMode;
        return true;
    }
    bool AskText(const std::string& title, const std::string&, std::string& text) override
    {
        asked.push_back(title);
        if (texts.empty())
            return false;
        text = texts.front();
        texts.erase(texts.begin());
        return true;
    }
};

struct QueueWindow {
    QTemporaryDir data;
    NoPrompt prompt;
    std::unique_ptr<TfrmMain> w;
    QueueWindow()
    {
        w = std::make_unique<TfrmMain>(data.path() + QStringLiteral("/"));
        w->SetPrompt(&prompt);
        w->Settings().UsePasv = true;
        w->show();
    }
    bool idle(int ms = 20000)
    {
        return WaitFor([&] { return w->Workflow().State() == SessionState::Idle; }, ms);
    }
    int row(TCorvListView* pane, const QString& name) const
    {
        for (int i = 0; i < pane->RowCount(); ++i)
            if (pane->Text(i, 0) == name)
                return i;
        return -1;
    }
    // A site for a server of the test's own on port, that says it resumes
    // (pyftpdlib refuses the resume probe in ASCII mode).
    void addResumingSite(const std::string& name, quint16 port)
    {
        TSiteRecord site;
        site.Name = name;
        site.IP = "127.0.0.1";
        site.Port = std::to_string(port);
        site.User = RealServers::User;
        site.SetPassword(RealServers::Password);
        site.Options = "300000000100000";  // position 9: resume works
        w->Sites().WriteSite(site);
    }
    std::vector<std::string> log() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < w->Memo1->LineCount(); ++i)
            out.push_back(w->Memo1->GetLineText(i).toStdString());
        return out;
    }
};

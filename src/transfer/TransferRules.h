#pragma once
// The decisions taken for one file of a run: its transfer mode, whether it
// is skipped, what happens to a target that exists, and how its name
// changes on the way.

#include "ftp/FtpTypes.h"
#include "sites/Settings.h"

#include <cstdint>
#include <string>

// "ResumeMode" and "UploadMode".
enum class TExistingMode : int { Ask = 0, Resume = 1, Overwrite = 2, Skip = 3, ResumeWhenSmaller = 4 };
// The file-exists dialog's answer for the rest of a run.
enum class TExistingAnswer : int { Ask = 0, SkipAll = 1, OverwriteAll = 2 };
// The transfer-mode panel.
enum class TModePanel : int { Ascii = 0, Binary = 1, Automatic = 2 };

// Cancel: the user stopped the run at this file.
enum class TFileAction { Overwrite, Resume, Skip, Ask, Cancel };

struct TExistingTarget {
    bool exists = false;
    int64_t targetSize = 0;  // the file already there
    int64_t sourceSize = 0;  // the file to send; -1 when not known
};

// What to do with a file whose target may exist. A run resumed after a
// reconnect resumes without asking when the server can. A run without a user
// (a script, QUIT=YES) never asks: it overwrites. Only a target no larger
// than its source is resumed.
TFileAction DecideExisting(const TExistingTarget& target, int mode, TExistingAnswer answer, bool reconnectResume,
                           bool resumeSupported, bool noUser);

TTransferType ChooseTransferMode(TModePanel panel, const std::string& path, const TSettings& settings);
// ".htm,.html" rules: local extension, remote extension.
std::string ApplyRenameRules(const std::string& name, bool upload, const TSettings& settings, bool sessionRules);
bool MatchesSkipList(const std::string& name, const TSettings& settings);
// "ForceLowerCase" on the path's last segment: 1 upper case, 2 lower case,
// otherwise unchanged.
std::string ApplyCaseRule(const std::string& path, int rule);

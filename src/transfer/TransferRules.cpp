#include "transfer/TransferRules.h"

#include "common/TextFormat.h"

#include <QString>

#include <algorithm>
#include <cctype>

TFileAction DecideExisting(const TExistingTarget& t, int mode, TExistingAnswer answer, bool reconnectResume,
                           bool resumeSupported, bool noUser)
{
    if (!t.exists || answer == TExistingAnswer::OverwriteAll)
        return TFileAction::Overwrite;
    // A target larger than its source is no beginning of it: resuming would
    // leave a file that differs from the source.
    const bool resumable = t.sourceSize < 0 || t.targetSize <= t.sourceSize;
    const TFileAction notResumable = noUser ? TFileAction::Overwrite : TFileAction::Ask;
    if (reconnectResume && resumeSupported)
        return resumable ? TFileAction::Resume : notResumable;
    switch (static_cast<TExistingMode>(mode)) {
        case TExistingMode::Ask:
            if (answer == TExistingAnswer::SkipAll)
                return TFileAction::Skip;
            return noUser ? TFileAction::Overwrite : TFileAction::Ask;
        case TExistingMode::Resume:
            return resumable ? TFileAction::Resume : notResumable;
        case TExistingMode::Overwrite:
            return TFileAction::Overwrite;
        case TExistingMode::Skip:
            return TFileAction::Skip;
        case TExistingMode::ResumeWhenSmaller:
            // Nothing left to fetch (or send) when the target is as large.
            return t.sourceSize < 0 || t.targetSize >= t.sourceSize ? TFileAction::Skip : TFileAction::Resume;
    }
    return TFileAction::Overwrite;
}

namespace {
std::string fileName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// The extension with its dot; empty when the name has none.
std::string extension(const std::string& name)
{
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}
}  // namespace

TTransferType ChooseTransferMode(TModePanel panel, const std::string& path, const TSettings& settings)
{
    if (panel == TModePanel::Binary)
        return BinaryTransfer;
    if (panel == TModePanel::Ascii)
        return AsciiTransfer;
    const std::string name = fileName(path);
    // No dot after the first character: a name without a type.
    if (settings.AsciiNoExtensions && (name.size() < 2 || name.find('.', 1) == std::string::npos))
        return AsciiTransfer;
    const QString ext = QString::fromStdString(upper(extension(name)));
    for (const std::string& pattern : settings.AsciiExtensions)
        if (MaskMatch(ext, QString::fromStdString(upper(pattern))))
            return AsciiTransfer;
    return BinaryTransfer;
}

std::string ApplyRenameRules(const std::string& name, bool upload, const TSettings& settings, bool sessionRules)
{
    if (!sessionRules || settings.RenameRules.empty())
        return name;
    const std::string ext = upper(extension(fileName(name)));
    if (ext.empty())
        return name;
    for (const std::string& rule : settings.RenameRules) {
        const size_t comma = rule.find(',');
        if (comma == std::string::npos)
            continue;
        const std::string local = rule.substr(0, comma), remote = rule.substr(comma + 1);
        const std::string& from = upload ? local : remote;
        if (upper(from) == ext)
            return name.substr(0, name.rfind('.')) + (upload ? remote : local);
    }
    return name;
}

bool MatchesSkipList(const std::string& name, const TSettings& settings)
{
    if (!settings.SkipEnabled)
        return false;
    const QString n = QString::fromStdString(name);
    return std::any_of(settings.SkipPatterns.begin(), settings.SkipPatterns.end(),
                       [&](const std::string& p) { return MaskMatch(n, QString::fromStdString(p)); });
}

std::string ApplyCaseRule(const std::string& path, int rule)
{
    // The name only: the folders on the way are what they are (on a file
    // system that minds case, a changed folder would not exist). QString
    // knows the case of non-ASCII letters.
    if (rule != 1 && rule != 2)
        return path;
    const size_t slash = path.rfind('/');
    const size_t from = slash == std::string::npos ? 0 : slash + 1;
    const QString name = QString::fromStdString(path.substr(from));
    return path.substr(0, from) + (rule == 1 ? name.toUpper() : name.toLower()).toStdString();
}

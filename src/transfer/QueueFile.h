#pragma once
// Queue files: the plain form (".cqf", and "qfile.dat" for the queue a close
// interrupted) holds only the entries; the site-queue form (".csq") also
// holds the host, the login and what to do when the run ends, so opening it
// is enough to connect and transfer unattended.
//
// Both are input from anywhere: a line that cannot become an entry is left
// out with a reason the caller logs, never silently, and never fatally.

#include "transfer/TransferQueue.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Why a line of a queue file, or an entry of the queue, was left out.
struct TQueueFileSkip {
    size_t Line = 0;  // 1-based line of the file read; 0 when writing
    std::string Reason;
    std::string Text;  // the line or the entry's source, cut to a readable length
    std::string LogText() const;
};

// The plain form: per entry one line "kind␁source␁size␁target" ended by CR LF
// (byte 1 as separator; the size as the queue shows it, "1,234", or empty).
std::string FormatPlainQueue(const std::vector<TQueueEntry>& entries, std::vector<TQueueFileSkip>& skipped);
std::vector<TQueueEntry> ParsePlainQueue(std::string_view text, std::vector<TQueueFileSkip>& skipped);

// The site-queue form: section HOSTINFO (HOST, PORT, USER, PASS scrambled,
// DIAL, HANGUP, QUIT), an empty line, section FILES with one quoted line per
// entry: "kind","source","size","target".
struct TSiteQueue {
    std::string Host;
    std::optional<std::string> Port, User, Password;  // the password in plain text
    std::string Dial;                                 // a dial-up entry; empty: none
    bool HangUp = false;                              // hang up once the run ends
    bool Quit = false;                                // close the program once the run ends
    std::vector<TQueueEntry> Entries;
};
std::string FormatSiteQueue(const TSiteQueue& queue, std::vector<TQueueFileSkip>& skipped);
TSiteQueue ParseSiteQueue(std::string_view text, std::vector<TQueueFileSkip>& skipped);

// What the entries of a queue file reach on this machine: the local folders
// uploads read from and downloads write into ("." and ".." resolved), each
// once, in the order met.
struct TQueueReach {
    std::vector<std::string> ReadFolders, WriteFolders;
};
TQueueReach QueueReach(const std::vector<TQueueEntry>& entries);
// What a site queue file will do (host, user, entries, the local folders it
// reads and writes, whether it quits), as the question before it runs.
std::string SiteQueueQuestion(const std::string& file, const TSiteQueue& queue);
// Entries whose local path (resolved as above) is not inside root: taken out
// of entries and returned. A run without a user loads only what stays in the
// folder it names.
std::vector<TQueueEntry> TakeEntriesOutside(std::vector<TQueueEntry>& entries, const std::string& root);

// The path with "_" for each of ?"*:<>| in its file-name part (after the last
// "/"); folder names stay as they are.
std::string QueueFileSafePath(const std::string& path);

// Whole-file input and output. Writing goes through a temporary file renamed
// over the old one, so a failure leaves the old file whole. Reading refuses
// files too large to be a queue. False with error set on failure.
bool WriteQueueFile(const std::string& path, std::string_view text, std::string& error);
bool ReadQueueFile(const std::string& path, std::string& text, std::string& error);

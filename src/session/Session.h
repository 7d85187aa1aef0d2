#pragma once
// What the session is doing, and what to do once logged in: the one record
// every command handler of the main window consults.

#include <cstdint>

enum class SessionState : uint8_t {
    Disconnected = 0,
    Connecting = 2,
    Connected = 3,
    Idle = 4,
    Downloading = 5,
    Uploading = 6,
    Editing = 7,
    Viewing = 8,
    DeletingTree = 10,
    CustomCommand = 11,
    RemoteCommand = 12,
    Chmod = 13,
    Refreshing = 14,
    Aborting = 15,
    DeletingFolders = 16,
    ConnectionLost = 17,
    Starting = 20,
};

inline bool IsTransferring(SessionState s)
{
    return s == SessionState::Downloading || s == SessionState::Uploading;
}

// A remote delete: entering and listing folders, then removing them.
inline bool IsDeleting(SessionState s)
{
    return s == SessionState::DeletingTree || s == SessionState::DeletingFolders;
}

enum class AfterLoginAction : uint8_t {
    None = 0,
    ResumeQueue = 9,  // resume the queue after a reconnect
    StartQueue = 18,  // start the queue once the first listing is shown
    CommandLineQueue = 19,
};

#pragma once

// Where a sync cycle stands. The manager posts a change notice on each new
// step and a completion notice on Complete.
enum class QVRSyncStep : unsigned
{
    Starting = 0,    // an enabling pass is under way
    Resetting = 1,   // the cloud folder is being reset
    Syncing = 2,     // changes are going out or coming in
    Transferred = 3, // a request or a file has been applied
    Updating = 4,    // the update check
    Finishing = 5,   // the queue has drained; Complete follows shortly
    Complete = 6,    // at rest
};

// The application's state as sync weighs it: work in the background is
// paced more slowly.
enum class QVRApplicationState
{
    Active = 0,
    Inactive = 1,
    Background = 2,
};

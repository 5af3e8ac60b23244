// Deleting the left-over download folder (KrevolSoft) in the background, and waiting for it.
//
// The main window deletes what an earlier run left in its working folder when it opens, without
// blocking its user-interface thread. An install run must not start writing into that folder
// while the deletion still walks it, so the run waits here first.
#pragma once

#include <atomic>
#include <functional>
#include <string>

namespace krevol {

// Starts deleting `folder` (deleteFolder) on a thread of its own and returns at once.
void startFolderCleanup(const std::string& folder);

// Runs `deletion` on a thread of its own as one of these deletions and returns at once;
// waitForFolderCleanup waits for it like for the others. startFolderCleanup(folder) is
// startCleanupTask([folder] { deleteFolder(folder); }); tests hand in a deletion they hold back.
void startCleanupTask(std::function<void()> deletion);

// Waits until every deletion started so far has ended. False when `stop` became non-zero first
// (looked at every 50 ms).
bool waitForFolderCleanup(const std::atomic<int>& stop);

}  // namespace krevol

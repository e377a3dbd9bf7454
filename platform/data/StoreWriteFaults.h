#pragma once

namespace platform {

// For tests: a full disk on demand. install() puts a file layer in front of
// SQLite's default one (it becomes the default); every store opened after
// that writes through it. While the disk is "full", each write of a page,
// journal or log fails as SQLite reports ENOSPC (SQLITE_FULL, "database or
// disk is full"); everything else is passed on unchanged, so the store sees
// exactly what a full disk would show it: a commit that fails and rolls back.
// Production code never calls these, and an installed layer that is not
// failing only passes calls on.
namespace StoreWriteFaults {

// Makes the layer the default (again); false when SQLite would not take it.
bool install();
// Every write fails while set (a disk that fills up and is freed again).
void setDiskFull(bool full);
bool diskFull();

} // namespace StoreWriteFaults

} // namespace platform

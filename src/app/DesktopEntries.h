#pragma once
// The installed applications' desktop entries, read into the guard's role
// table away from the user-interface thread.
#include "platform/AppRoles.h"

#include <QByteArray>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace brevik {

// The folders that hold desktop entries, first the one that takes precedence:
// applications/ below $XDG_DATA_HOME (else ~/.local/share) and below each of
// $XDG_DATA_DIRS (else /usr/local/share:/usr/share). Flatpak and Snap add
// their exports to $XDG_DATA_DIRS.
QStringList ApplicationFolders();

// One entry file; nullopt when it is no application entry. searchPath: the
// folders a program name without "/" is looked up in.
std::optional<DesktopEntry> ParseDesktopEntry(const QString& id, const QByteArray& text,
                                              const QStringList& searchPath);

// Every *.desktop file below the folders (subfolders too) into table.
// Returns the number of files read.
int ReadDesktopEntries(RoleTable& table, const QStringList& folders, const QStringList& searchPath);

// Reads the entries of ApplicationFolders() on a thread of its own, at the
// lowest priority, and hands the table to done on the thread of the
// application object (the reading is waited for when that object goes).
void ReadRoleTableInBackground(OperatorRoles rules,
                               std::function<void(std::shared_ptr<const RoleTable>)> done);

// $PATH as a list of folders.
QStringList SearchPath();

} // namespace brevik

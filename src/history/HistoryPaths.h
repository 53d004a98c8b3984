#pragma once

#include <QDateTime>
#include <QString>

#include "frmTimer.h"

namespace ostrel::history {

// The folder of the history of the Ostrel named `instanceName`:
// $XDG_DATA_HOME/Ostrel/<name>, the name made one plain folder name ("/" becomes "_", and "."
// or ".." get a "_" before them), so that no name reaches outside Ostrel's folder.
QString historyFolder(const QString& instanceName);
// The database in a history folder.
QString databasePath(const QString& folder);
// Where the snapshot of a rise of area `number` at `time` goes, relative to the history folder:
// snapshots/YYYY-MM-DD/HHMMSS-mmm_<number>_<key>_<kind>.jpg in local time, the key cut short
// and made safe for any file system.
QString snapshotPath(const QDateTime& time, std::int32_t number, const QString& key,
                     areas::DetectionKind kind);
// The folder of the snapshots, relative to the history folder.
inline QString snapshotFolderName() { return QStringLiteral("snapshots"); }

}  // namespace ostrel::history

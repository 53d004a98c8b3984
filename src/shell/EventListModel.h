#pragma once

#include <deque>

#include <QAbstractTableModel>
#include <QCache>
#include <QPixmap>

#include "EventRow.h"

namespace ostrel::shell {

// The History window's event list, newest first: the latest events of the database as the
// window comes up, then every change as it is recorded. Thumbnails are read when a row is shown,
// at a small size, and kept for the rows seen last.
class EventListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kMaxRows = 1000;
    static constexpr int kThumbnailWidth = 96;
    enum Column { Time, Area, Kind, Status, Snapshot, ColumnCount };

    // The history in `folder`.
    explicit EventListModel(QString folder, QObject* parent = nullptr);

    // Reads the latest events of the database. Returns why it could not, or an empty text.
    QString loadPast();
    void prepend(const history::EventRow& row);
    // The snapshot at `relativePath` is on the disk now: its row shows it.
    void snapshotSaved(const QString& relativePath);
    // The snapshot file of `row`; empty when it has none.
    QString snapshotFile(int row) const;
    const history::EventRow& eventAt(int row) const { return rows_[std::size_t(row)]; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QVariant thumbnail(int row) const;

    QString folder_;
    std::deque<history::EventRow> rows_;
    mutable QCache<QString, QPixmap> thumbnails_{200};
};

}  // namespace ostrel::shell

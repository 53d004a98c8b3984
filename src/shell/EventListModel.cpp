#include "EventListModel.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImageReader>

#include "EventStore.h"
#include "HistoryPaths.h"

namespace ostrel::shell {

EventListModel::EventListModel(QString folder, QObject* parent)
    : QAbstractTableModel(parent), folder_(std::move(folder)) {}

QString EventListModel::loadPast() {
    // Read on the GUI thread: a database that another program holds is not waited for long.
    constexpr int kBusyTimeoutMs = 200;
    try {
        history::EventStore store(history::databasePath(folder_), history::Database::Mode::ReadOnly,
                                  kBusyTimeoutMs);
        std::vector<history::EventRow> past = store.latest(kMaxRows);
        beginResetModel();
        rows_.assign(std::make_move_iterator(past.begin()), std::make_move_iterator(past.end()));
        endResetModel();
    } catch (const history::HistoryError& error) {
        if (error.cause() != history::HistoryError::Cause::Missing) {
            return QStringLiteral("Past events cannot be read: %1").arg(error.what());
        }
    }
    return QString();
}

void EventListModel::prepend(const history::EventRow& row) {
    beginInsertRows(QModelIndex(), 0, 0);
    rows_.push_front(row);
    endInsertRows();
    if (rows_.size() > std::size_t(kMaxRows)) {
        beginRemoveRows(QModelIndex(), kMaxRows, int(rows_.size()) - 1);
        rows_.resize(kMaxRows);
        endRemoveRows();
    }
}

void EventListModel::snapshotSaved(const QString& relativePath) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].snapshot == relativePath) {
            const QModelIndex cell = index(int(i), Snapshot);
            Q_EMIT dataChanged(cell, cell, {Qt::DecorationRole});
            return;
        }
    }
}

QString EventListModel::snapshotFile(int row) const {
    const QString& snapshot = rows_[std::size_t(row)].snapshot;
    return snapshot.isEmpty() ? QString() : folder_ + u'/' + snapshot;
}

int EventListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int EventListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant EventListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || std::size_t(index.row()) >= rows_.size()) {
        return {};
    }
    const history::EventRow& row = rows_[std::size_t(index.row())];
    if (role == Qt::DecorationRole && index.column() == Snapshot) {
        return thumbnail(index.row());
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
        case Time:
            return QDateTime::fromMSecsSinceEpoch(row.timeMs)
                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        case Area:
            return QStringLiteral("%1 - %2").arg(row.area).arg(row.key);
        case Kind:
            return row.kind == areas::DetectionKind::Motion ? QStringLiteral("Motion")
                                                           : QStringLiteral("Colour");
        case Status:
            return QStringLiteral("%1 (%2 %)")
                .arg(row.status ? QStringLiteral("True") : QStringLiteral("False"))
                .arg(row.percent);
        default:
            return {};
    }
}

// Read at a fraction of the full size (JPEG decodes that way quickly); a file not written yet is
// tried again when the row is shown next.
QVariant EventListModel::thumbnail(int row) const {
    const QString file = snapshotFile(row);
    if (file.isEmpty()) {
        return {};
    }
    if (const QPixmap* cached = thumbnails_.object(file)) {
        return *cached;
    }
    QImageReader reader(file);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() <= 0) {
        return {};
    }
    reader.setScaledSize(size.scaled(kThumbnailWidth, kThumbnailWidth, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull()) {
        return {};
    }
    auto* pixmap = new QPixmap(QPixmap::fromImage(image));
    thumbnails_.insert(file, pixmap);
    return *pixmap;
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case Time:
            return QStringLiteral("Time");
        case Area:
            return QStringLiteral("Area");
        case Kind:
            return QStringLiteral("Kind");
        case Status:
            return QStringLiteral("Status");
        case Snapshot:
            return QStringLiteral("Snapshot");
        default:
            return {};
    }
}

}  // namespace ostrel::shell

#include "app/history_model.h"

namespace fieldkit::app {

HistoryModel::HistoryModel(QObject* parent) : QAbstractTableModel(parent) {}

void HistoryModel::setContents(history::HistoryContents contents)
{
    beginResetModel();
    contents_ = std::move(contents);
    rows_.clear();
    for (const auto& stored : contents_.records)
        rows_.push_back(history::rowOf(stored.record));
    endResetModel();
}

int HistoryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const history::RecordRow& row = rows_[static_cast<std::size_t>(index.row())];
    if (index.column() == Esn && role == SortRole)
        return row.esn ? QVariant(static_cast<qulonglong>(*row.esn)) : QVariant(-1LL);
    if (index.column() == Esn && role == FilterRole)
        return row.esn ? QString::fromStdString(row.esnText + ' ' + std::to_string(*row.esn)) : QString();
    if (role != Qt::DisplayRole && role != SortRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case Time:
        return QString::fromStdString(row.time);
    case Command:
        return QString::fromStdString(row.command);
    case Port:
        return QString::fromStdString(row.port);
    case Esn:
        return QString::fromStdString(row.esnText);
    case BoardVersion:
        return QString::fromStdString(row.boardVersion);
    case Result:
        return QString::fromStdString(row.result);
    case Message:
        return QString::fromStdString(row.message);
    default:
        return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const kTitles[ColumnCount] = {"Time (UTC)",    "Command", "Port",   "ESN",
                                                     "Board version", "Result",  "Message"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(kTitles[section]) : QVariant();
}

} // namespace fieldkit::app

#pragma once

#include "history/history_file.h"
#include "history/history_table.h"

#include <QAbstractTableModel>

#include <vector>

namespace fieldkit::app {

// The records of the upgrade history as a table, one row per record in file order.
class HistoryModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Command, Port, Esn, BoardVersion, Result, Message, ColumnCount };
    // What the table sorts by: numbers as numbers.
    static constexpr int SortRole = Qt::UserRole;
    // What the ESN filter looks in: the ESN as the board screens show it and as stored.
    static constexpr int FilterRole = Qt::UserRole + 1;

    explicit HistoryModel(QObject* parent = nullptr);

    void setContents(history::HistoryContents contents);
    const history::HistoryContents& contents() const { return contents_; }
    const history::StoredRecord& recordAt(int row) const { return contents_.records.at(static_cast<std::size_t>(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    history::HistoryContents contents_;
    std::vector<history::RecordRow> rows_;
};

} // namespace fieldkit::app

#pragma once

#include <QDialog>

#include <filesystem>

class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace fieldkit::app {

class HistoryModel;

// View > Upgrade history...: placed after the board information command; the id follows the
// program's other command ids without changing any of them.
inline constexpr int ID_VIEW_HISTORY = 32803;
inline constexpr const char* IDS_VIEW_HISTORY = "Show the recorded upgrades and board reads\nUpgrade history";

// The recorded upgrades and board reads in a table sortable by any column, newest first at
// the start, with a filter by ESN and an export of the rows shown to a CSV file.
class HistoryWindow final : public QDialog {
    Q_OBJECT
public:
    HistoryWindow(std::filesystem::path file, QWidget* parent);

    // Reads the file again; a file that cannot be read leaves the table empty and says why.
    void reload();
    // Writes the rows shown, in the order shown; the reason when it could not.
    std::string exportCsv(const std::filesystem::path& target) const;

    HistoryModel* model() const { return model_; }
    QSortFilterProxyModel* proxy() const { return proxy_; }
    QLineEdit* esnFilter() const { return esnFilter_; }
    QTableView* table() const { return table_; }
    QLabel* note() const { return note_; }

private:
    void onExportCsv();

    std::filesystem::path file_;
    HistoryModel* model_;
    QSortFilterProxyModel* proxy_;
    QLineEdit* esnFilter_;
    QTableView* table_;
    QLabel* note_;
    QPushButton* export_;
};

} // namespace fieldkit::app

#pragma once

#include <QDialog>
#include <QPointer>

#include "shop/shop_database.h"

#include <filesystem>
#include <string>

class QComboBox;
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
    // With a shop database named, a choice between this bench's file and every bench's
    // records in the database.
    HistoryWindow(std::filesystem::path file, QWidget* parent, std::string database = shop::databaseNamed());

    // Reads the file again; a file that cannot be read leaves the table empty and says why.
    void reload();
    // Writes the rows shown, in the order shown; the reason when it could not.
    std::string exportCsv(const std::filesystem::path& target) const;

    HistoryModel* model() const { return model_; }
    QSortFilterProxyModel* proxy() const { return proxy_; }
    QLineEdit* esnFilter() const { return esnFilter_; }
    QTableView* table() const { return table_; }
    QLabel* note() const { return note_; }
    QComboBox* benches() const { return benches_; }

private:
    void onExportCsv();
    // Every bench's records from the shop database; a database that cannot be read leaves
    // the table empty and says why.
    void loadAllBenches();

    std::filesystem::path file_;
    HistoryModel* model_;
    QSortFilterProxyModel* proxy_;
    QLineEdit* esnFilter_;
    QTableView* table_;
    QLabel* note_;
    QPushButton* export_;
    std::string database_;
    QComboBox* benches_;
};

// View > Upgrade history...: the window `window` holds, read again, or a new one made for
// `parent` when there is none, brought to the front.
void showHistoryWindow(QPointer<HistoryWindow>& window, QWidget* parent);

} // namespace fieldkit::app

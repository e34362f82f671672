#include "app/history_window.h"

#include "app/history_model.h"
#include "history/history_file.h"
#include "app/message_boxes.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <fstream>

namespace fieldkit::app {

HistoryWindow::HistoryWindow(std::filesystem::path file, QWidget* parent, std::string database)
    : QDialog(parent), file_(std::move(file)), model_(new HistoryModel(this)), proxy_(new QSortFilterProxyModel(this)),
      esnFilter_(new QLineEdit(this)), table_(new QTableView(this)), note_(new QLabel(this)),
      export_(new QPushButton(QStringLiteral("Export CSV..."), this)), database_(std::move(database)),
      benches_(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("Upgrade history"));
    setObjectName(QStringLiteral("HistoryWindow"));

    proxy_->setSourceModel(model_);
    proxy_->setSortRole(HistoryModel::SortRole);
    proxy_->setFilterRole(HistoryModel::FilterRole);
    proxy_->setFilterKeyColumn(HistoryModel::Esn);
    proxy_->setFilterCaseSensitivity(Qt::CaseInsensitive);

    table_->setModel(proxy_);
    table_->setSortingEnabled(true);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->sortByColumn(HistoryModel::Time, Qt::DescendingOrder);

    esnFilter_->setPlaceholderText(QStringLiteral("ESN, or part of it"));
    esnFilter_->setClearButtonEnabled(true);
    connect(esnFilter_, &QLineEdit::textChanged, proxy_, &QSortFilterProxyModel::setFilterFixedString);

    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(new QLabel(QStringLiteral("Filter by ESN:"), this));
    filterRow->addWidget(esnFilter_, 1);
    benches_->addItems({QStringLiteral("This bench"), QStringLiteral("All benches")});
    benches_->setVisible(!database_.empty());
    filterRow->addWidget(benches_);
    connect(benches_, &QComboBox::currentIndexChanged, this, [this](int chosen) {
        if (chosen == 0)
            reload();
        else
            loadAllBenches();
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(export_, QDialogButtonBox::ActionRole);
    connect(export_, &QPushButton::clicked, this, &HistoryWindow::onExportCsv);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filterRow);
    layout->addWidget(table_, 1);
    layout->addWidget(note_);
    layout->addWidget(buttons);
    resize(900, 400);
    reload();
}

void HistoryWindow::reload()
{
    std::string error;
    auto contents = history::readHistory(file_, &error);
    const QString where = QString::fromStdString(file_.string());
    if (!contents) {
        model_->setContents({});
        note_->setText(QStringLiteral("The history cannot be read: ") + QString::fromStdString(error));
        return;
    }
    const std::size_t skipped = contents->skippedLines;
    const auto count = contents->records.size();
    model_->setContents(std::move(*contents));
    QString text = count == 1 ? QStringLiteral("1 record in %1").arg(where)
                              : QStringLiteral("%1 records in %2").arg(count).arg(where);
    if (skipped == 1)
        text += QStringLiteral("; 1 line that is not a whole record was skipped");
    else if (skipped > 1)
        text += QStringLiteral("; %1 lines that are not whole records were skipped").arg(skipped);
    note_->setText(text);
    table_->resizeColumnsToContents();
}

void HistoryWindow::loadAllBenches()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SystemClock clock;
    shop::Database database(clock);
    history::HistoryContents contents;
    auto failure = database.open(database_);
    if (!failure)
        failure = database.readRecords({}, &contents);
    QApplication::restoreOverrideCursor();
    if (failure) {
        model_->setContents({});
        note_->setText(QStringLiteral("The shop database cannot be read: ") + QString::fromStdString(failure->text));
        return;
    }
    const auto count = contents.records.size();
    model_->setContents(std::move(contents));
    note_->setText(QStringLiteral("%1 record%2 of every bench in the shop database at %3")
                       .arg(count)
                       .arg(count == 1 ? "" : "s")
                       .arg(QString::fromStdString(database.where())));
    table_->resizeColumnsToContents();
}

std::string HistoryWindow::exportCsv(const std::filesystem::path& target) const
{
    std::vector<const history::StoredRecord*> shown;
    for (int row = 0; row < proxy_->rowCount(); ++row)
        shown.push_back(&model_->recordAt(proxy_->mapToSource(proxy_->index(row, 0)).row()));
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out)
        return target.string() + " cannot be opened for writing.";
    history::writeCsv(out, shown);
    out.close();
    if (!out)
        return target.string() + " could not be written to its end.";
    return {};
}

void HistoryWindow::onExportCsv()
{
    const QString target = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"),
                                                        QStringLiteral("fieldkit-history.csv"),
                                                        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (target.isEmpty())
        return;
    if (const std::string failure = exportCsv(target.toStdString()); !failure.empty())
        warningBox(this, "The history was not exported:\n" + failure);
}

void showHistoryWindow(QPointer<HistoryWindow>& window, QWidget* parent)
{
    if (window == nullptr) {
        window = new HistoryWindow(history::historyFile(), parent);
        window->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        window->reload();
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace fieldkit::app

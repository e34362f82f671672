// The desktop program and the history: every upgrade and board read leaves its record, a
// history that cannot be written gets a warning box after the run, and the history window.

#include "app/history_model.h"
#include "app/history_window.h"
#include "app/resource.h"
#include "history/history_file.h"
#include "tests/app/app_fixture.h"
#include "tests/support/environment_variable.h"
#include "tests/support/fake_clock.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSortFilterProxyModel>
#include <QTableView>

namespace fieldkit::app {
namespace {

// The history of each test in its own file, as FIELDKIT_HISTORY names it.
class HistoryAppTest : public AppTest {
protected:
    HistoryAppTest()
        : historyFile(std::filesystem::current_path() / "history.jsonl"),
          historyVariable_("FIELDKIT_HISTORY", historyFile.string())
    {
    }

    std::vector<history::StoredRecord> records()
    {
        std::string error;
        const auto contents = history::readHistory(historyFile, &error);
        EXPECT_TRUE(contents) << error;
        return contents ? contents->records : std::vector<history::StoredRecord>{};
    }

    std::filesystem::path historyFile;

private:
    testing::EnvironmentVariable historyVariable_;
};

struct DesktopRunRow {
    const char* name;
    bool upgrade;          // else the board information command
    bool historyWritable;  // else FIELDKIT_HISTORY names a folder
    bool shopDown = false; // a shop database is named that nobody answers for
};

void PrintTo(const DesktopRunRow& row, std::ostream* out)
{
    *out << row.name;
}

class DesktopRun : public HistoryAppTest, public ::testing::WithParamInterface<DesktopRunRow> {};

TEST_P(DesktopRun, IsRecordedBeforeItsOutcomeOrWarnsAfterIt)
{
    const DesktopRunRow& row = GetParam();
    if (!row.historyWritable) {
        std::filesystem::create_directories(historyFile);
    }
    const testing::EnvironmentVariable shop("FIELDKIT_HISTORY_DATABASE",
                                            row.shopDown ? std::optional<std::string>("host=127.0.0.1 port=1")
                                                         : std::nullopt);
    writeFile("AppConfig.ini", "[Firmware]\nVersion=R07.12.00\n");
    EmulatedBoard board(sim::parseBoardOptions({"--esn", "0x80000000"}));
    testing::FakeClock clock;
    start(emulated(board, clock));
    ModalAnswerer answerer;
    std::size_t recordsWhenShown = 99;
    const auto recordsNow = [this, &recordsWhenShown](QWidget* modal) {
        recordsWhenShown = std::filesystem::is_directory(historyFile) ? 0 : records().size();
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            box->button(QMessageBox::Ok)->click();
        else
            static_cast<QDialog*>(modal)->accept();
    };
    if (row.upgrade) {
        answerer.thenClick(QMessageBox::Yes).then(recordsNow);
        if (!row.historyWritable || row.shopDown)
            answerer.thenClick(QMessageBox::Ok);
        QTest::mouseClick(view().m_btnUpgrade, Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return !frame().IsBusy(); }, 60));
    } else {
        answerer.then(recordsNow);
        if (!row.historyWritable || row.shopDown)
            answerer.thenClick(QMessageBox::Ok);
        frame().CommandAction(ID_BOARD_INFO)->trigger();
    }
    ASSERT_TRUE(waitFor([&] { return answerer.boxes.size() + answerer.dialogs.size() == (row.upgrade ? 2u : 1u) +
                                                                                            !row.historyWritable +
                                                                                            row.shopDown; }));
    EXPECT_EQ(answerer.unexpected, 0);
    if (row.shopDown) {
        // The outcome, then the shop's trouble; the record waits on the bench.
        EXPECT_TRUE(answerer.boxes.back().text.startsWith(
            QStringLiteral("The history was not sent to the shop database: the shop database cannot be reached")))
            << answerer.boxes.back().text.toStdString();
        EXPECT_EQ(recordsWhenShown, 1u);
        if (row.upgrade) {
            EXPECT_EQ(answerer.boxes[1].text, QStringLiteral("Flashing completed successfully"));
        }
        return;
    }

    if (!row.historyWritable) {
        const auto& warning = answerer.boxes.back();
        EXPECT_EQ(warning.caption, QStringLiteral("Warning"));
        EXPECT_TRUE(warning.text.startsWith(QStringLiteral("This ") + (row.upgrade ? "upgrade" : "board read") +
                                            " was not recorded in the upgrade history: "))
            << warning.text.toStdString();
        // The system's own reason, in its words ("Is a directory", or a denied access on Windows).
        const auto reason = history::appendRecord(historyFile, history::Record::object());
        ASSERT_TRUE(reason);
        EXPECT_TRUE(warning.text.endsWith(QString::fromStdString(*reason))) << warning.text.toStdString();
        // The run's own outcome came first and stood.
        if (row.upgrade) {
            EXPECT_EQ(answerer.boxes[1].text, QStringLiteral("Flashing completed successfully"));
        }
        return;
    }
    EXPECT_EQ(recordsWhenShown, 1u) << "the record is on disk before the outcome is shown";
    const auto stored = records();
    ASSERT_EQ(stored.size(), 1u);
    const history::Record& record = stored[0].record;
    EXPECT_EQ(record["command"], row.upgrade ? "upgrade" : "info");
    EXPECT_EQ(record["result"], "success");
    EXPECT_EQ(record["port"], "COM1");
    EXPECT_EQ(record["simulated"], false);
    EXPECT_EQ(record["board_version"], "R07.12.00");
    if (row.upgrade) {
        EXPECT_EQ(record["questions"], history::Record::parse(R"([{"kind":"already_flashed","answer":"yes"}])"));
        EXPECT_EQ(record["settings_version"], "R07.12.00");
        EXPECT_EQ(record["files"].size(), 2u);
        EXPECT_GT(record["pages_written"].get<unsigned>(), 1000u);
    } else {
        EXPECT_EQ(record["esn"], 2147483648u);
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, DesktopRun,
                         ::testing::Values(DesktopRunRow{"Upgrade", true, true}, DesktopRunRow{"UpgradeUnrecorded", true, false},
                                           DesktopRunRow{"UpgradeWithTheShopDown", true, true, true},
                                           DesktopRunRow{"BoardInfo", false, true},
                                           DesktopRunRow{"BoardInfoUnrecorded", false, false},
                                           DesktopRunRow{"BoardInfoWithTheShopDown", false, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

std::string line(const char* started, const char* esn, const char* result)
{
    return std::string(R"({"schema":1,"command":"upgrade","started":")") + started + R"(","port":"COM1","esn":)" + esn +
           R"(,"board_version":"R07.12.00","result":")" + result + R"(","message":null})" + "\n";
}

TEST_F(HistoryAppTest, TheWindowSortsFiltersByEsnAndExportsTheRowsShown)
{
    writeFile(historyFile, line("2026-03-01T09:00:00Z", "305419896", "success") +
                               line("2026-03-02T09:00:00Z", "2147483648", "failure") +
                               line("2026-02-01T09:00:00Z", "null", "failure") + R"({"schema":1,"comm)");
    start();
    // The menus keep their items; the history comes last under View.
    QStringList view;
    for (QAction* menu : frame().menuBar()->actions())
        if (menu->text() == QStringLiteral("View"))
            for (QAction* item : menu->menu()->actions())
                view << item->text();
    EXPECT_EQ(view, QStringList({"&Tool bar", "&Status bar", "&Lodestar board information...", "Upgrade &history..."}));

    frame().CommandAction(ID_VIEW_HISTORY)->trigger();
    auto* window = frame().findChild<HistoryWindow*>();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->benches()->isVisibleTo(window)) << "no shop database is named";
    EXPECT_TRUE(window->note()->text().startsWith(QStringLiteral("3 records in ")));
    EXPECT_TRUE(window->note()->text().endsWith(QStringLiteral("; 1 line that is not a whole record was skipped")));
    QSortFilterProxyModel& shown = *window->proxy();
    const auto column = [&shown](int column) {
        QStringList texts;
        for (int row = 0; row < shown.rowCount(); ++row)
            texts << shown.index(row, column).data().toString();
        return texts;
    };
    // Newest first at the start.
    EXPECT_EQ(column(HistoryModel::Time),
              QStringList({"2026-03-02T09:00:00Z", "2026-03-01T09:00:00Z", "2026-02-01T09:00:00Z"}));
    // ESNs sort as numbers, not as the signed texts shown.
    window->table()->sortByColumn(HistoryModel::Esn, Qt::AscendingOrder);
    EXPECT_EQ(column(HistoryModel::Esn), QStringList({"", "305419896", "-2147483648"}));

    window->esnFilter()->setText(QStringLiteral("-2147483648"));
    EXPECT_EQ(column(HistoryModel::Result), QStringList({"failure"}));
    window->esnFilter()->setText(QStringLiteral("2147483648")); // as stored
    EXPECT_EQ(column(HistoryModel::Result), QStringList({"failure"}));
    window->esnFilter()->setText(QStringLiteral("3054"));
    EXPECT_EQ(column(HistoryModel::Result), QStringList({"success"}));
    window->esnFilter()->clear();

    const auto csv = std::filesystem::current_path() / "export.csv";
    EXPECT_EQ(window->exportCsv(csv), "");
    const std::string exported = readFile(csv);
    EXPECT_EQ(std::count(exported.begin(), exported.end(), '\n'), 4);
    EXPECT_LT(exported.find(",,R07.12.00"), exported.find(",305419896,")) << exported;
    EXPECT_LT(exported.find(",305419896,"), exported.find(",2147483648,")) << exported;
    EXPECT_NE(window->exportCsv(std::filesystem::current_path()), "");

    // A history that fails to read leaves the table empty and says why.
    const HistoryWindow unreadable("/proc/self/mem", nullptr);
    EXPECT_EQ(unreadable.model()->rowCount(), 0);
    std::string reason; // the reader's own, in the system's words ("Input/output error" on Linux)
    ASSERT_FALSE(history::readHistory("/proc/self/mem", &reason));
    EXPECT_EQ(unreadable.note()->text().toStdString(), "The history cannot be read: " + reason);
}

TEST_F(HistoryAppTest, WithAShopDatabaseTheWindowShowsThisBenchOrAllBenches)
{
    writeFile(historyFile, line("2026-03-01T09:00:00Z", "305419896", "success"));
    HistoryWindow window(historyFile, nullptr, "host=127.0.0.1 port=1 user=fieldkit");
    ASSERT_TRUE(window.benches()->isVisibleTo(&window));
    EXPECT_EQ(window.benches()->currentText(), QStringLiteral("This bench"));
    EXPECT_EQ(window.model()->rowCount(), 1);

    window.benches()->setCurrentIndex(1);
    EXPECT_EQ(window.benches()->currentText(), QStringLiteral("All benches"));
    EXPECT_EQ(window.model()->rowCount(), 0);
    EXPECT_TRUE(window.note()->text().startsWith(
        QStringLiteral("The shop database cannot be read: the shop database cannot be reached: connection to server at")))
        << window.note()->text().toStdString();

    window.benches()->setCurrentIndex(0);
    EXPECT_EQ(window.model()->rowCount(), 1);
    EXPECT_TRUE(window.note()->text().startsWith(QStringLiteral("1 record in ")));
}

} // namespace
} // namespace fieldkit::app

// The floor for start-up: a bare Qt program that reads the live notes' titles
// (the first line, newest first) from the store file given as its argument
// with SQLite, shows them in a plain list and reports its first paint the way
// quillary does, then exits. Without an argument the window stays empty.
#include "app/window/FirstPaintReport.h"

#include <QApplication>
#include <QListView>
#include <QMainWindow>
#include <QStringListModel>

#include <sqlite3.h>

namespace {

// As many characters as the application's list keeps of a title.
constexpr int TitleLength = 4096;

QStringList readTitles(const char* path)
{
    QStringList titles;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return titles;
    }
    sqlite3_stmt* statement = nullptr;
    // The first line is cut out by SQLite: only the title becomes a QString.
    sqlite3_prepare_v2(db,
                       "SELECT substr(head, 1, CASE instr(head, char(10)) WHEN 0 THEN ?1 ELSE instr(head, "
                       "char(10)) - 1 END) FROM (SELECT substr(text, 1, ?1) AS head, date FROM Note "
                       "WHERE archived = 0) ORDER BY date DESC",
                       -1, &statement, nullptr);
    sqlite3_bind_int(statement, 1, TitleLength);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        titles << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                                    sqlite3_column_bytes(statement, 0))
                      .trimmed();
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return titles;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.resize(1000, 700);
    QStringListModel model(argc > 1 ? readTitles(argv[1]) : QStringList());
    auto* list = new QListView(&window);
    list->setUniformItemSizes(true);
    list->setModel(&model);
    window.setCentralWidget(list);
    // Always a timing run: it ends at its first paint, also when started alone.
    if (qEnvironmentVariableIsEmpty("QUILLARY_REPORT_FIRST_PAINT"))
        qputenv("QUILLARY_REPORT_FIRST_PAINT", "1");
    reportFirstPaintIfAsked(list->viewport());
    window.show();
    return application.exec();
}

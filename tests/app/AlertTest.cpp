// The one alert of the application: the real message box (focus, Return,
// Escape, window-modal opening) once per behaviour, and the responder that
// answers it everywhere else.
#include "app/alerts/Alert.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

// The message box showing now, if any.
QMessageBox* shownBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    }
    return nullptr;
}

// Runs `alert` for real; once its box shows, `inside` looks at it and a key
// press (or a click by `inside`) answers it.
int runAnswering(const Alert& alert, const std::function<void(QMessageBox*)>& inside)
{
    QTimer::singleShot(0, qApp, [inside] {
        QMessageBox* box = shownBox();
        if (!box) {
            ADD_FAILURE() << "no message box shows";
            return;
        }
        inside(box);
        // Whatever the check did, the box must not outlive it.
        if (box->isVisible())
            box->done(QDialog::Rejected);
    });
    return alert.run();
}

} // namespace

TEST(Alert, RealBoxTakesTheFocusAndAnswersReturnAndEscapeByItsButtons)
{
    struct Row
    {
        const char* name;
        QList<Alert::Button> buttons;
        int defaultButton;
        int escapeButton;
        Qt::Key key;
        int chosen;
    };
    const Row rows[] = {
        {"no buttons: one OK", {}, Alert::NoButton, Alert::NoButton, Qt::Key_Return, 0},
        {"no buttons: Escape is OK too", {}, Alert::NoButton, Alert::NoButton, Qt::Key_Escape, 0},
        {"OK default, Return",
         {{"OK", QMessageBox::AcceptRole}, {"Cancel", QMessageBox::RejectRole}},
         0,
         Alert::NoButton,
         Qt::Key_Return,
         0},
        {"Escape finds the only Cancel",
         {{"OK", QMessageBox::AcceptRole}, {"Cancel", QMessageBox::RejectRole}},
         0,
         Alert::NoButton,
         Qt::Key_Escape,
         1},
        {"Cancel made the default",
         {{"Reset", QMessageBox::AcceptRole}, {"Cancel", QMessageBox::RejectRole}},
         1,
         1,
         Qt::Key_Return,
         1},
        {"Return never destroys",
         {{"Quit Anyway", QMessageBox::DestructiveRole}, {"Cancel", QMessageBox::RejectRole}},
         1,
         1,
         Qt::Key_Return,
         1},
        {"named escape among three",
         {{"Save", QMessageBox::AcceptRole},
          {"Don't Save", QMessageBox::DestructiveRole},
          {"Cancel", QMessageBox::RejectRole}},
         0,
         2,
         Qt::Key_Escape,
         2},
    };
    for (const Row& row : rows) {
        Alert alert(QMessageBox::Warning, QStringLiteral("The text"), QStringLiteral("The reason"));
        alert.setWindowTitle(QStringLiteral("Title"));
        alert.setName(QStringLiteral("testAlert"));
        alert.setDetailedText(QStringLiteral("The cause"));
        for (const Alert::Button& button : row.buttons)
            alert.addButton(button.title, button.role);
        alert.setDefaultButton(row.defaultButton);
        alert.setEscapeButton(row.escapeButton);
        const int chosen = runAnswering(alert, [&](QMessageBox* box) {
            EXPECT_EQ(box->objectName(), "testAlert") << row.name;
            EXPECT_EQ(box->windowTitle(), "Title") << row.name;
            EXPECT_EQ(box->text(), "The text") << row.name;
            EXPECT_EQ(box->informativeText(), "The reason") << row.name;
            EXPECT_EQ(box->detailedText(), "The cause") << row.name;
            EXPECT_EQ(box->icon(), QMessageBox::Warning) << row.name;
            // Less the one that shows the detail, which never answers.
            EXPECT_EQ(box->buttons().size() - 1, row.buttons.isEmpty() ? 1 : row.buttons.size()) << row.name;
            // A real box takes the keyboard: the keys below reach it, not
            // whatever had the focus before.
            EXPECT_EQ(QApplication::activeModalWidget(), box) << row.name;
            EXPECT_TRUE(QTest::qWaitForWindowActive(box)) << row.name;
            EXPECT_TRUE(box->isAncestorOf(QApplication::focusWidget())) << row.name;
            QTest::keyClick(QApplication::focusWidget(), row.key);
        });
        EXPECT_EQ(chosen, row.chosen) << row.name;
        EXPECT_EQ(shownBox(), nullptr) << row.name;
    }
}

TEST(Alert, OpenedBoxIsModalToItsWindowAndAnswersLater)
{
    QWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    Alert alert(QMessageBox::Information, QStringLiteral("Later"));
    const int first = alert.addButton(QStringLiteral("First"), QMessageBox::AcceptRole);
    const int second = alert.addButton(QStringLiteral("Second"), QMessageBox::ActionRole);
    int chosen = -2;
    alert.open(&window, [&](int index) { chosen = index; });
    // Nothing is answered yet: open() did not wait.
    EXPECT_EQ(chosen, -2);
    QPointer<QMessageBox> box = shownBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->parentWidget(), &window);
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == "Second")
            button->click();
    }
    EXPECT_EQ(chosen, second);
    EXPECT_NE(chosen, first);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(box.isNull()) << "the box goes once answered";
}

TEST(Alert, ResponderRecordsEachAlertAndTheNewestAnswers)
{
    Alert question(QMessageBox::Question, QStringLiteral("Quit?"));
    const int quit = question.addButton(QStringLiteral("Quit"), QMessageBox::DestructiveRole);
    const int cancel = question.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    question.setDefaultButton(cancel);

    AlertResponder outer;
    EXPECT_EQ(question.run(), cancel) << "by default, the default button";
    {
        AlertResponder inner(AlertResponder::choosing(QStringLiteral("Quit")));
        EXPECT_EQ(question.run(), quit);
        int later = Alert::NoButton;
        question.open(nullptr, [&](int index) { later = index; });
        EXPECT_EQ(later, quit) << "an opened alert is answered too";
        EXPECT_EQ(inner.texts(), QStringList({"Quit?", "Quit?"}));
    }
    EXPECT_EQ(Alert(QMessageBox::Information, QStringLiteral("Note")).run(), 0) << "the implicit OK";
    EXPECT_EQ(outer.texts(), QStringList({"Quit?", "Note"})) << "the inner one answered in between";
    EXPECT_EQ(shownBox(), nullptr);
}

TEST(Alert, ErrorAlertsSayWhatFailedAndWhy)
{
    struct Row
    {
        const char* name;
        QString recovery;
        QString reason;
        QString url;
        QString informative;
        QString detail;
        QStringList buttons;
    };
    const Row rows[] = {
        {"suggestion first, the reason in the detail",
         "Free some space.",
         "The disk is full.",
         {},
         "Free some space.",
         "The disk is full.",
         {"OK"}},
        {"else the reason", {}, "The disk is full.", {}, "The disk is full.", {}, {"OK"}},
        {"a site to visit", {}, {}, "https://example.org/help", {}, {}, {"OK", "Visit Site"}},
    };
    for (const Row& row : rows) {
        platform::Error error;
        error.localizedDescription = QStringLiteral("The note could not be saved.");
        error.recoverySuggestion = row.recovery;
        if (!row.reason.isNull())
            error.userInfo.insert(QStringLiteral("NSLocalizedFailureReason"), row.reason);
        AlertResponder responder;
        Alert::showError(error, row.url, false);
        Alert::showError(std::nullopt, row.url, false);
        ASSERT_EQ(responder.shown.size(), 1) << row.name << ": no error, no alert";
        const Alert& shown = responder.shown.first();
        EXPECT_EQ(shown.text(), error.localizedDescription) << row.name;
        EXPECT_EQ(shown.informativeText(), row.informative) << row.name;
        EXPECT_EQ(shown.detailedText(), row.detail) << row.name;
        QStringList titles;
        for (const Alert::Button& button : shown.buttons())
            titles << button.title;
        EXPECT_EQ(titles, row.buttons) << row.name;
        EXPECT_EQ(shown.defaultButton(), 0) << row.name;
    }
}

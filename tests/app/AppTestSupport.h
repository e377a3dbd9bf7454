#pragma once

#include "app/QuillaryAppDelegate.h"
#include "app/editor/QVRLinkTextView.h"
#include "app/list/NoteListModel.h"

#include "platform/core/UserDefaults.h"
#include "platform/data/StoreWriteFaults.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "tests/app/StoredText.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualClock.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>

#include <gtest/gtest.h>

#include <memory>

namespace apptest {

// A delegate over a store file and a settings file of its own, with no sync
// manager, a manual clock and a captured log. Its store writes through the
// layer that can fill the disk on demand (platform::StoreWriteFaults), and
// unsaved notes are recovered into the temporary folder.
class AppTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    testsupport::ManualClock clock;
    testsupport::LogCapture log;
    std::unique_ptr<QVRDataStore> root;
    std::unique_ptr<platform::UserDefaults> defaults;
    std::unique_ptr<QuillaryAppDelegate> app;

    void SetUp() override
    {
        platform::StoreWriteFaults::install();
        root = QVRDataStore::makeRootStore(dir.filePath(QStringLiteral("Quillary.sqlite")));
        defaults = std::make_unique<platform::UserDefaults>(dir.filePath(QStringLiteral("settings.plist")));
        start(environment());
    }

    void TearDown() override
    {
        app.reset();
        root.reset();
        platform::StoreWriteFaults::setDiskFull(false);
    }

    QuillaryAppDelegate::Environment environment() const
    {
        QuillaryAppDelegate::Environment environment;
        environment.rootStore = root.get();
        environment.defaults = defaults.get();
        environment.searchAnimationMs = 0; // the search bar slides at once
        environment.recoveryFolder = dir.filePath(QStringLiteral("Recovered"));
        return environment;
    }

    void start(const QuillaryAppDelegate::Environment& environment)
    {
        app = std::make_unique<QuillaryAppDelegate>(environment);
        app->window()->resize(1000, 600);
        app->applicationWillFinishLaunching();
    }

    static QVariantMap item(const QString& uuid, const QString& text)
    {
        return {{"uuid", uuid}, {"text", text}};
    }

    // The list's rows, top to bottom, as titles.
    QStringList rows() const
    {
        QStringList titles;
        for (int i = 0; i < app->listModel()->rowCount(); ++i)
            titles << app->listModel()->index(i).data().toString();
        return titles;
    }

    QString selectedUuid() const { return app->selectedNote() ? app->selectedNote()->uuid() : QString(); }

    void typeInEditor(const QString& text)
    {
        app->textView()->setFocus();
        app->textView()->textCursor().insertText(text);
    }

    void advance(double seconds) { clock.advance(seconds); }
};

// An xdg-email of the test's own, first on PATH while this lives, that
// writes each call's arguments to a file, one a line, and "--" after the
// last; exits 3 with "broken" on stderr while FAIL_SHARE is set. Made with
// `present` false, PATH holds only an empty folder: no xdg-email is found.
class FakeXdgEmail
{
public:
    FakeXdgEmail(const QString& folder, bool present = true)
        : m_log(folder + QStringLiteral("/xdg-email.log")), m_oldPath(qgetenv("PATH"))
    {
        const QString bin = folder + QStringLiteral("/bin");
        QDir().mkpath(bin);
        if (present) {
            QFile script(bin + QStringLiteral("/xdg-email"));
            EXPECT_TRUE(script.open(QIODevice::WriteOnly));
            script.write(QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '%1'\n"
                                        "echo '--' >> '%1'\n"
                                        "[ -n \"$FAIL_SHARE\" ] && { echo broken >&2; exit 3; }\nexit 0\n")
                             .arg(m_log)
                             .toUtf8());
            script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        qputenv("PATH", present ? bin.toUtf8() + ':' + m_oldPath : bin.toUtf8());
    }
    ~FakeXdgEmail()
    {
        qputenv("PATH", m_oldPath);
        qunsetenv("FAIL_SHARE");
    }
    FakeXdgEmail(const FakeXdgEmail&) = delete;
    FakeXdgEmail& operator=(const FakeXdgEmail&) = delete;

    // Every call so far.
    QString calls() const
    {
        QFile file(m_log);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    void forget() { QFile::remove(m_log); }

private:
    QString m_log;
    QByteArray m_oldPath;
};

} // namespace apptest

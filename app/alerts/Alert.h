#pragma once

#include "platform/core/Error.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

// Every alert and modal question of the application is an Alert, so that
// they look alike and tests can answer them.
//
// Showing one: describe it, then run it (modal, returns the index of the
// button chosen) or open it (returns at once; `done` gets the index later):
//
//     Alert question(Alert::Icon::Warning, tr("Quit without saving?"), reason);
//     const int quit = question.addButton(tr("Quit Anyway"), Alert::Role::Destructive);
//     question.setEscapeButton(question.addButton(tr("Cancel"), Alert::Role::Reject));
//     if (question.run(window) == quit) ...
//
// A store's failure is shown by Alert::fromError(error) plus its buttons. An
// alert without buttons has one "OK". Buttons keep the platform's order for
// their roles, so only the role and the default/escape buttons matter.
//
// Tests answer alerts with an AlertResponder (below) instead of the real
// message box; one test per kind of behaviour still runs the real one.
class Alert
{
public:
    enum class Icon
    {
        Information,
        Warning,
        Critical,
        Question
    };
    enum class Role
    {
        Accept,
        Reject,
        Destructive,
        Action
    };
    struct Button
    {
        QString title;
        Role role;
    };
    static constexpr int NoButton = -1;

    explicit Alert(Icon icon, QString text, QString informativeText = {});
    // The error's description as the text; its recovery suggestion, or else
    // its failure reason, below it.
    static Alert fromError(const platform::Error& error);

    // The window's title ("Quillary" unless set).
    void setWindowTitle(const QString& title) { m_windowTitle = title; }
    // An object name for the box, so others can find it while it shows.
    void setName(const QString& name) { m_name = name; }
    // Adds a button and answers its index.
    int addButton(const QString& title, Role role);
    // The button Return presses. Unset, Qt picks (the first Accept button).
    void setDefaultButton(int index) { m_defaultButton = index; }
    // The button Escape and the close box press. Unset, Qt picks (the only
    // Reject button, or the only button).
    void setEscapeButton(int index) { m_escapeButton = index; }

    Icon icon() const { return m_icon; }
    QString windowTitle() const { return m_windowTitle; }
    QString name() const { return m_name; }
    QString text() const { return m_text; }
    QString informativeText() const { return m_informativeText; }
    const QList<Button>& buttons() const { return m_buttons; }
    int defaultButton() const { return m_defaultButton; }
    int escapeButton() const { return m_escapeButton; }
    // The index of the button titled `title`, or NoButton.
    int buttonTitled(const QString& title) const;
    Role roleOf(int index) const;

    // Application-modal over `parent`; the index of the button chosen.
    int run(QWidget* parent = nullptr) const;
    // Window-modal over `parent`'s window when it shows, else
    // application-modal; returns at once and hands the choice to `done`.
    void open(QWidget* parent, std::function<void(int)> done = {}) const;

    // The error alert with "OK" (and "Visit Site" opening `url` when given),
    // shown on the main thread from any thread. A fatal one ends the process
    // with status 1 once dismissed. No error, no alert.
    static void showError(const std::optional<platform::Error>& error, const QString& url, bool fatal);

private:
    Icon m_icon;
    QString m_windowTitle;
    QString m_name;
    QString m_text;
    QString m_informativeText;
    QList<Button> m_buttons;
    int m_defaultButton = NoButton;
    int m_escapeButton = NoButton;
};

// While one lives, alerts are not shown: each is recorded in `shown` and
// answered by `answer` (by default its default button, else its first).
// The newest responder answers. Main thread only.
class AlertResponder
{
public:
    using Answer = std::function<int(const Alert&)>;
    explicit AlertResponder(Answer answer = {});
    ~AlertResponder();
    AlertResponder(const AlertResponder&) = delete;
    AlertResponder& operator=(const AlertResponder&) = delete;

    // The answer `title` for every alert that has such a button.
    static Answer choosing(const QString& title);
    // The texts of the alerts answered so far.
    QStringList texts() const;

    QList<Alert> shown;

private:
    friend class Alert;
    int respond(const Alert& alert);

    Answer m_answer;
    AlertResponder* m_previous;
};

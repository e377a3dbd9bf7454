#pragma once

#include "platform/core/Error.h"

#include <QList>
#include <QMessageBox>
#include <QString>

#include <functional>
#include <optional>

// Every alert and modal question of the application is an Alert, so that
// they look alike and tests can answer them. Describe it, then run it (modal;
// answers the index of the button chosen) or open it (returns at once and
// hands the index to `done`):
//
//     Alert question(QMessageBox::Warning, tr("Quit without saving?"), reason);
//     const int quit = question.addButton(tr("Quit Anyway"), QMessageBox::DestructiveRole);
//     const int cancel = question.addButton(tr("Cancel"), QMessageBox::RejectRole);
//     question.setDefaultButton(cancel);
//     if (question.run(window) == quit) ...
//
// Alert::fromError() describes a store's failure (its description and
// reason, kept as the detail when a suggestion takes the text's place);
// Alert::showError() shows one with OK. Without buttons an alert has
// one OK. The platform orders the buttons by role.
//
// Tests answer alerts with an AlertResponder instead of the real box; each
// behaviour of the real one is tested once (tests/app/AlertTest.cpp).
class Alert
{
public:
    struct Button
    {
        QString title;
        QMessageBox::ButtonRole role;
    };
    static constexpr int NoButton = -1;

    explicit Alert(QMessageBox::Icon icon, QString text, QString informativeText = {});
    // The error's description; below it its recovery suggestion, or else its
    // failure reason. A reason below a suggestion is the detail.
    static Alert fromError(const platform::Error& error);

    // "Quillary" unless set.
    void setWindowTitle(const QString& title) { m_windowTitle = title; }
    // The box's object name, for those who look for it while it shows.
    void setName(const QString& name) { m_name = name; }
    // Shown when the user asks for details: the cause behind the text.
    void setDetailedText(const QString& detail) { m_detailedText = detail; }
    // Answers the new button's index. A destructive one never answers Return.
    int addButton(const QString& title, QMessageBox::ButtonRole role);
    // The button Return presses; unset, Qt picks the first accepting one.
    void setDefaultButton(int index) { m_defaultButton = index; }
    // The button Escape presses; unset, Qt picks the only rejecting button
    // or the only button.
    void setEscapeButton(int index) { m_escapeButton = index; }

    QMessageBox::Icon icon() const { return m_icon; }
    QString windowTitle() const { return m_windowTitle; }
    QString name() const { return m_name; }
    QString text() const { return m_text; }
    QString informativeText() const { return m_informativeText; }
    QString detailedText() const { return m_detailedText; }
    const QList<Button>& buttons() const { return m_buttons; }
    int defaultButton() const { return m_defaultButton; }
    int escapeButton() const { return m_escapeButton; }
    // The index of the button titled `title`, or NoButton.
    int buttonTitled(const QString& title) const;

    // Application-modal over `parent`; the index of the button chosen.
    int run(QWidget* parent = nullptr) const;
    // Modal to `parent`'s window; returns at once.
    void open(QWidget* parent, std::function<void(int)> done = {}) const;

    // The error's alert with OK (and "Visit Site" opening `url` when given),
    // shown on the main thread from any thread. A fatal one ends the process
    // with status 1 once dismissed. No error, no alert.
    static void showError(const std::optional<platform::Error>& error, const QString& url, bool fatal);

private:
    QMessageBox* makeBox(QWidget* parent, QList<QAbstractButton*>& buttons) const;

    QMessageBox::Icon m_icon;
    QString m_windowTitle = QStringLiteral("Quillary");
    QString m_name;
    QString m_text;
    QString m_informativeText;
    QString m_detailedText;
    QList<Button> m_buttons;
    int m_defaultButton = NoButton;
    int m_escapeButton = NoButton;
};

// While one lives, alerts are not shown: each is recorded in `shown` and
// answered by `answer` (by default its default button, else its first). The
// newest responder answers. Main thread only.
class AlertResponder
{
public:
    using Answer = std::function<int(const Alert&)>;
    explicit AlertResponder(Answer answer = {});
    ~AlertResponder();
    AlertResponder(const AlertResponder&) = delete;
    AlertResponder& operator=(const AlertResponder&) = delete;

    // Answers with the button titled `title`.
    static Answer choosing(const QString& title);
    QStringList texts() const;

    QList<Alert> shown;

private:
    friend class Alert;
    int respond(const Alert& alert);

    Answer m_answer;
    AlertResponder* m_previous;
};

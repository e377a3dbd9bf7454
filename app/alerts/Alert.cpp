#include "app/alerts/Alert.h"

#include "store/QVRLocalizedString.h"
#include "store/QVRRunOnMainThread.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <cstdlib>
#include <memory>

namespace {

constexpr int FatalExitStatus = 1;

AlertResponder* currentResponder = nullptr;

QMessageBox::Icon boxIcon(Alert::Icon icon)
{
    switch (icon) {
    case Alert::Icon::Warning:
        return QMessageBox::Warning;
    case Alert::Icon::Critical:
        return QMessageBox::Critical;
    case Alert::Icon::Question:
        return QMessageBox::Question;
    case Alert::Icon::Information:
        break;
    }
    return QMessageBox::Information;
}

QMessageBox::ButtonRole boxRole(Alert::Role role)
{
    switch (role) {
    case Alert::Role::Reject:
        return QMessageBox::RejectRole;
    case Alert::Role::Destructive:
        return QMessageBox::DestructiveRole;
    case Alert::Role::Action:
        return QMessageBox::ActionRole;
    case Alert::Role::Accept:
        break;
    }
    return QMessageBox::AcceptRole;
}

// The box for `alert`; `pushButtons` gets its buttons in the alert's order.
std::unique_ptr<QMessageBox> makeBox(const Alert& alert, QWidget* parent,
                                     QList<QAbstractButton*>& pushButtons)
{
    // No buttons: the standard OK.
    auto box = std::make_unique<QMessageBox>(
        boxIcon(alert.icon()), alert.windowTitle(), alert.text(),
        alert.buttons().isEmpty() ? QMessageBox::Ok : QMessageBox::NoButton, parent);
    box->setObjectName(alert.name());
    if (!alert.informativeText().isEmpty())
        box->setInformativeText(alert.informativeText());
    for (const Alert::Button& button : alert.buttons()) {
        QPushButton* push = box->addButton(button.title, boxRole(button.role));
        // A destructive choice is never what Return means.
        if (button.role == Alert::Role::Destructive)
            push->setAutoDefault(false);
        pushButtons << push;
    }
    if (pushButtons.isEmpty())
        pushButtons = box->buttons();
    if (alert.defaultButton() >= 0 && alert.defaultButton() < pushButtons.size())
        box->setDefaultButton(qobject_cast<QPushButton*>(pushButtons.at(alert.defaultButton())));
    if (alert.escapeButton() >= 0 && alert.escapeButton() < pushButtons.size())
        box->setEscapeButton(pushButtons.at(alert.escapeButton()));
    return box;
}

} // namespace

Alert::Alert(Icon icon, QString text, QString informativeText)
    : m_icon(icon), m_windowTitle(QStringLiteral("Quillary")), m_text(std::move(text)),
      m_informativeText(std::move(informativeText))
{
}

Alert Alert::fromError(const platform::Error& error)
{
    QString informative = error.recoverySuggestion;
    if (informative.isNull())
        informative = error.userInfo.value(QStringLiteral("NSLocalizedFailureReason")).toString();
    return Alert(Icon::Information, error.localizedDescription, informative);
}

int Alert::addButton(const QString& title, Role role)
{
    m_buttons.append({title, role});
    return int(m_buttons.size()) - 1;
}

int Alert::buttonTitled(const QString& title) const
{
    for (int i = 0; i < m_buttons.size(); ++i) {
        if (m_buttons.at(i).title == title)
            return i;
    }
    return NoButton;
}

Alert::Role Alert::roleOf(int index) const
{
    // The implicit OK of an alert without buttons accepts.
    return index >= 0 && index < m_buttons.size() ? m_buttons.at(index).role : Role::Accept;
}

int Alert::run(QWidget* parent) const
{
    if (currentResponder)
        return currentResponder->respond(*this);
    QList<QAbstractButton*> buttons;
    std::unique_ptr<QMessageBox> box = makeBox(*this, parent, buttons);
    box->exec();
    const qsizetype chosen = buttons.indexOf(box->clickedButton());
    return chosen < 0 ? NoButton : int(chosen);
}

void Alert::open(QWidget* parent, std::function<void(int)> done) const
{
    if (currentResponder) {
        const int chosen = currentResponder->respond(*this);
        if (done)
            done(chosen);
        return;
    }
    QList<QAbstractButton*> buttons;
    QMessageBox* box = makeBox(*this, parent, buttons).release();
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, done = std::move(done)] {
        if (done) {
            const qsizetype chosen = buttons.indexOf(box->clickedButton());
            done(chosen < 0 ? NoButton : int(chosen));
        }
    });
    box->open();
}

void Alert::showError(const std::optional<platform::Error>& error, const QString& url, bool fatal)
{
    if (!error)
        return;
    QVRRunOnMainThread([error = *error, url, fatal] {
        Alert alert = fromError(error);
        alert.setDefaultButton(alert.addButton(QVRLocalizedString(QStringLiteral("OK")), Role::Accept));
        const int visit =
            url.isNull() ? NoButton
                         : alert.addButton(QVRLocalizedString(QStringLiteral("Visit Site")), Role::Action);
        const int chosen = alert.run();
        if (visit != NoButton && chosen == visit)
            QDesktopServices::openUrl(QUrl(url));
        if (fatal)
            std::exit(FatalExitStatus);
    });
}

AlertResponder::AlertResponder(Answer answer) : m_answer(std::move(answer)), m_previous(currentResponder)
{
    currentResponder = this;
}

AlertResponder::~AlertResponder()
{
    currentResponder = m_previous;
}

AlertResponder::Answer AlertResponder::choosing(const QString& title)
{
    return [title](const Alert& alert) { return alert.buttonTitled(title); };
}

QStringList AlertResponder::texts() const
{
    QStringList texts;
    for (const Alert& alert : shown)
        texts << alert.text();
    return texts;
}

int AlertResponder::respond(const Alert& alert)
{
    shown << alert;
    if (m_answer)
        return m_answer(alert);
    return alert.defaultButton() != Alert::NoButton ? alert.defaultButton() : 0;
}

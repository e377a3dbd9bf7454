#include "app/alerts/Alert.h"

#include "platform/core/UserDefaults.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRRunOnMainThread.h"

#include <QDesktopServices>
#include <QPushButton>
#include <QUrl>

#include <cstdlib>
#include <memory>

namespace {

constexpr int FatalExitStatus = 1;

AlertResponder* currentResponder = nullptr;

int indexOf(const QList<QAbstractButton*>& buttons, QAbstractButton* clicked)
{
    const qsizetype index = buttons.indexOf(clicked);
    return index < 0 ? Alert::NoButton : int(index);
}

} // namespace

Alert::Alert(QMessageBox::Icon icon, QString text, QString informativeText)
    : m_icon(icon), m_text(std::move(text)), m_informativeText(std::move(informativeText))
{
}

Alert Alert::fromError(const platform::Error& error)
{
    const QString reason = error.userInfo.value(QStringLiteral("NSLocalizedFailureReason")).toString();
    if (error.recoverySuggestion.isNull())
        return Alert(QMessageBox::Information, error.localizedDescription, reason);
    // The suggestion says what to do; the reason, what went wrong. The user
    // needs both to choose (a newer version wants an update, not a reinstall).
    Alert alert(QMessageBox::Information, error.localizedDescription, error.recoverySuggestion);
    alert.setDetailedText(reason);
    return alert;
}

int Alert::addButton(const QString& title, QMessageBox::ButtonRole role)
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

QMessageBox* Alert::makeBox(QWidget* parent, QList<QAbstractButton*>& buttons) const
{
    auto* box = new QMessageBox(m_icon, m_windowTitle, m_text,
                                m_buttons.isEmpty() ? QMessageBox::Ok : QMessageBox::NoButton, parent);
    box->setObjectName(m_name);
    if (!m_informativeText.isEmpty())
        box->setInformativeText(m_informativeText);
    if (!m_detailedText.isEmpty())
        box->setDetailedText(m_detailedText);
    for (const Button& button : m_buttons) {
        QPushButton* push = box->addButton(button.title, button.role);
        if (button.role == QMessageBox::DestructiveRole)
            push->setAutoDefault(false);
        buttons << push;
    }
    if (buttons.isEmpty())
        buttons = box->buttons();
    if (m_defaultButton >= 0 && m_defaultButton < buttons.size())
        box->setDefaultButton(qobject_cast<QPushButton*>(buttons.at(m_defaultButton)));
    if (m_escapeButton >= 0 && m_escapeButton < buttons.size())
        box->setEscapeButton(buttons.at(m_escapeButton));
    return box;
}

int Alert::run(QWidget* parent) const
{
    if (currentResponder)
        return currentResponder->respond(*this);
    QList<QAbstractButton*> buttons;
    const std::unique_ptr<QMessageBox> box(makeBox(parent, buttons));
    box->exec();
    return indexOf(buttons, box->clickedButton());
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
    QMessageBox* box = makeBox(parent, buttons);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, done = std::move(done)] {
        if (done)
            done(indexOf(buttons, box->clickedButton()));
    });
    box->open();
}

void Alert::showError(const std::optional<platform::Error>& error, const QString& url, bool fatal)
{
    if (!error)
        return;
    QVRRunOnMainThread([error = *error, url, fatal] {
        Alert alert = fromError(error);
        alert.setDefaultButton(
            alert.addButton(QVRLocalizedString(QStringLiteral("OK")), QMessageBox::AcceptRole));
        const int visit = url.isNull() ? NoButton
                                       : alert.addButton(QVRLocalizedString(QStringLiteral("Visit Site")),
                                                         QMessageBox::ActionRole);
        const int chosen = alert.run();
        if (visit != NoButton && chosen == visit)
            QDesktopServices::openUrl(QUrl(url));
        if (fatal) {
            // Past the application's end, where held-back settings are written.
            platform::UserDefaults::synchronizeAll();
            std::exit(FatalExitStatus);
        }
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

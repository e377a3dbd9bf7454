#include "app/window/QVRAboutWindowController.h"

#include "app/window/NSColorAdditions.h"

#include <QLabel>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

// The build number beside the marketing version.
const char* const BundleVersion = "620";

const char* const Credits = R"(<p>Quillary keeps your notes in a plain-text list beside an editor,
with search over your notes and their history.</p>
<p>Built on <a href="https://www.qt.io/">Qt</a>, <a href="https://sqlite.org/">SQLite</a>,
<a href="https://libimobiledevice.org/">libplist</a> and
<a href="https://wiki.gnome.org/Projects/Libsecret">libsecret</a>.</p>
<p><a href="https://quillary.quorvane.com/">quillary.quorvane.com</a></p>)";

} // namespace

QVRVersionButton::QVRVersionButton(QWidget* parent) : QPushButton(parent)
{
    setFlat(true);
    setFocusPolicy(Qt::NoFocus);
}

void QVRVersionButton::setShowsHandCursor(bool shows)
{
    m_showsHandCursor = shows;
    if (shows)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

QVRAboutViewController::QVRAboutViewController(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    m_nameField = new QLabel(this);
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setAlignment(Qt::AlignHCenter);
    QFont nameFont = m_nameField->font();
    nameFont.setPixelSize(20);
    nameFont.setWeight(QFont::Medium);
    m_nameField->setFont(nameFont);
    m_nameField->setText(QStringLiteral("Quillary"));

    m_versionButton = new QVRVersionButton(this);
    m_versionButton->setObjectName(QStringLiteral("versionButton"));

    m_creditsView = new QTextBrowser(this);
    m_creditsView->setObjectName(QStringLiteral("creditsView"));
    m_creditsView->setOpenExternalLinks(true);
    m_creditsView->document()->setDocumentMargin(20);
    m_creditsView->document()->setDefaultStyleSheet(QStringLiteral("a { color: %1; text-decoration: none; }")
                                                        .arg(NSColorAdditions::quorvaneBlueColor().name()));
    m_creditsView->setHtml(QString::fromUtf8(Credits));

    layout->addWidget(m_nameField);
    layout->addWidget(m_versionButton);
    layout->addWidget(m_creditsView, 1);
    updateVersionText();
}

QString QVRAboutViewController::versionText(const QString& shortVersion, const QString& bundleVersion)
{
    return QStringLiteral("%1 (%2)").arg(shortVersion, bundleVersion);
}

void QVRAboutViewController::updateVersionText()
{
    m_versionButton->setText(
        versionText(QStringLiteral(QUILLARY_VERSION), QString::fromLatin1(BundleVersion)));
}

QVRAboutWindowController::QVRAboutWindowController(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(QStringLiteral("About Quillary"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_viewController = new QVRAboutViewController(this);
    layout->addWidget(m_viewController);
    resize(340, 300);
}

void QVRAboutWindowController::showWindow()
{
    show();
    raise();
    activateWindow();
}

// The General pane of the preferences window.
#include "app/preferences/QVRGeneralPreferencesViewController.h"

#include "app/QuillaryAppDelegate.h"

#include "hotkey/KRRecorderControl.h"
#include "platform/core/UserDefaults.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRUtilities.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QStyle>

namespace {

} // namespace

const QList<int>& QVRGeneralPreferencesViewController::textSizes()
{
    static const QList<int> sizes{9, 10, 11, 12, 13, 14, 16, 18, 20, 24, 28, 36, 48};
    return sizes;
}

QVRGeneralPreferencesViewController::QVRGeneralPreferencesViewController(QuillaryAppDelegate* delegate,
                                                                         QWidget* parent)
    : QVRPreferencesViewController(parent), m_delegate(delegate), m_textSizeLabel(new QLabel(this)),
      m_shortcutLabel(new QLabel(this)), m_showInLabel(new QLabel(this)),
      m_textSizePopup(new QComboBox(this)), m_keyRecorder(new KRRecorderControl(this)),
      m_showInPopup(new QComboBox(this)), m_hideAutomaticallyButton(new QCheckBox(this)),
      m_startAtLoginButton(new QCheckBox(this))
{
    setObjectName(QStringLiteral("generalPreferences"));
    setTitle(QVRLocalizedString(QStringLiteral("General")));

    m_textSizeLabel->setText(QVRLocalizedString(QStringLiteral("Text size:")));
    m_shortcutLabel->setText(QVRLocalizedString(QStringLiteral("Keyboard shortcut:")));
    m_showInLabel->setText(QVRLocalizedString(QStringLiteral("Show Quillary in:")));
    for (int size : textSizes())
        m_textSizePopup->addItem(QString::number(size), size);
    m_showInPopup->addItem(QVRLocalizedString(QStringLiteral("Dock")));
    m_showInPopup->addItem(QVRLocalizedString(QStringLiteral("Menu Bar")));
    m_hideAutomaticallyButton->setText(QVRLocalizedString(QStringLiteral("Hide automatically")));
    m_startAtLoginButton->setText(QVRLocalizedString(QStringLiteral("Start when you log in")));
    m_keyRecorder->setMinimumSize(160, 24);

    const std::pair<QWidget*, QString> names[] = {
        {m_textSizePopup, QStringLiteral("textSizePopup")},
        {m_keyRecorder, QStringLiteral("keyRecorder")},
        {m_showInPopup, QStringLiteral("showInPopup")},
        {m_hideAutomaticallyButton, QStringLiteral("hideAutomaticallyButton")},
        {m_startAtLoginButton, QStringLiteral("startAtLoginButton")},
    };
    for (const auto& [widget, name] : names)
        widget->setObjectName(name);
    m_textSizePopup->setAccessibleName(m_textSizeLabel->text());
    m_showInPopup->setAccessibleName(m_showInLabel->text());

    auto* layout = new QFormLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    layout->addRow(m_textSizeLabel, m_textSizePopup);
    layout->addRow(m_shortcutLabel, m_keyRecorder);
    layout->addRow(m_showInLabel, m_showInPopup);
    layout->addRow(QString(), m_hideAutomaticallyButton);
    layout->addRow(QString(), m_startAtLoginButton);

    // activated and clicked come from the user only; selecting or checking
    // from code (viewWillAppear, a settings notice) must not run an action,
    // or showing the pane in Dock mode would turn "Hide Automatically" off.
    connect(m_textSizePopup, &QComboBox::activated, this, [this] { changeTextSize(); });
    connect(m_showInPopup, &QComboBox::activated, this, [this] { changeShowIn(); });
    connect(m_hideAutomaticallyButton, &QCheckBox::clicked, this, [this] { changeHideAutomatically(); });
    connect(m_startAtLoginButton, &QCheckBox::clicked, this, [this] { changeStartAtLogin(); });

    // Opening the preferences registers or removes the login item to match
    // the stored setting.
    m_delegate->setStartAtLogin(m_delegate->startAtLogin());
}

QVRGeneralPreferencesViewController::~QVRGeneralPreferencesViewController()
{
    m_keyRecorder->setDelegate(nullptr);
}

QIcon QVRGeneralPreferencesViewController::toolbarImage() const
{
    return QIcon::fromTheme(QStringLiteral("preferences-system"),
                            style()->standardIcon(QStyle::SP_ComputerIcon));
}

void QVRGeneralPreferencesViewController::viewWillAppear()
{
    QVRPreferencesViewController::viewWillAppear();
    m_keyRecorder->setKeyCombo(m_delegate->keyComboForKey(QVRDefaultsKeys::GlobalShortcut));
    m_keyRecorder->setDelegate(m_delegate);
    const int index = m_textSizePopup->findData(
        int(QVRDefaultsKeys::value(m_delegate->defaults(), QVRDefaultsKeys::TextSize)));
    if (index >= 0)
        m_textSizePopup->setCurrentIndex(index);
    m_showInPopup->setCurrentIndex(m_delegate->menuBarMode() ? 1 : 0);
    updateHideAutomatically();
    m_startAtLoginButton->setChecked(m_delegate->startAtLogin());
    m_defaultsObserver = platform::NotificationCenter::defaultCenter().addObserver(
        QVRUserDefaultsDidChangeNotification, nullptr, this,
        [this](const platform::Notification& notification) {
            userDefaultsDidChange(notification.userInfo.value(QVRUserDefaultsKey).toString(),
                                  notification.userInfo.value(QVRUserDefaultsValue));
        });
}

void QVRGeneralPreferencesViewController::viewDidDisappear()
{
    m_defaultsObserver.reset();
    QVRPreferencesViewController::viewDidDisappear();
}

void QVRGeneralPreferencesViewController::changeTextSize()
{
    QVRDefaultsKeys::set(m_delegate->defaults(), QVRDefaultsKeys::TextSize,
                         qint64(m_textSizePopup->currentData().toInt()), true);
}

void QVRGeneralPreferencesViewController::changeShowIn()
{
    const bool wanted = m_showInPopup->currentIndex() != 0;
    m_delegate->setMenuBarMode(wanted);
    // Without a tray the switch is refused: the stored mode, and with it
    // hiding, stay as they were.
    const bool on = m_delegate->menuBarMode();
    m_showInPopup->setCurrentIndex(on ? 1 : 0);
    if (on != wanted)
        return;
    m_hideAutomaticallyButton->setChecked(on);
    changeHideAutomatically();
}

void QVRGeneralPreferencesViewController::changeHideAutomatically()
{
    QVRDefaultsKeys::set(m_delegate->defaults(), QVRDefaultsKeys::HideAutomatically,
                         m_hideAutomaticallyButton->isChecked());
}

void QVRGeneralPreferencesViewController::changeStartAtLogin()
{
    m_delegate->setStartAtLogin(m_startAtLoginButton->isChecked());
}

void QVRGeneralPreferencesViewController::userDefaultsDidChange(const QString& key, const QVariant& value)
{
    if (key == QVRDefaultsKeys::StartAtLogin.key)
        m_startAtLoginButton->setChecked(value.toBool());
    else if (key == QVRDefaultsKeys::HideAutomatically.key)
        updateHideAutomatically();
}

void QVRGeneralPreferencesViewController::updateHideAutomatically()
{
    m_hideAutomaticallyButton->setChecked(
        QVRDefaultsKeys::value(m_delegate->defaults(), QVRDefaultsKeys::HideAutomatically));
}

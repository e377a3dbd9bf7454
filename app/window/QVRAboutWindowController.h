#pragma once

#include <QPushButton>
#include <QWidget>

class QLabel;
class QTextBrowser;

// The version line of the about window; shows a pointing hand when asked.
class QVRVersionButton : public QPushButton
{
    Q_OBJECT

public:
    explicit QVRVersionButton(QWidget* parent = nullptr);

    bool showsHandCursor() const { return m_showsHandCursor; }
    void setShowsHandCursor(bool shows);

private:
    bool m_showsHandCursor = false;
};

// The about view: the application's name, its version and the credits.
class QVRAboutViewController : public QWidget
{
    Q_OBJECT

public:
    explicit QVRAboutViewController(QWidget* parent = nullptr);

    QLabel* nameField() const { return m_nameField; }
    QVRVersionButton* versionButton() const { return m_versionButton; }
    QTextBrowser* creditsView() const { return m_creditsView; }

    void updateVersionText();
    // "<short version> (<bundle version>)".
    static QString versionText(const QString& shortVersion, const QString& bundleVersion);

private:
    QLabel* m_nameField;
    QVRVersionButton* m_versionButton;
    QTextBrowser* m_creditsView;
};

// The about window, made once and shown again on each About command.
class QVRAboutWindowController : public QWidget
{
    Q_OBJECT

public:
    explicit QVRAboutWindowController(QWidget* parent = nullptr);

    QVRAboutViewController* viewController() const { return m_viewController; }
    void showWindow();

private:
    QVRAboutViewController* m_viewController;
};

#pragma once

#include <QLineEdit>

class QToolButton;

// The search bar's field, drawn as a rounded bar with its own placeholder and
// clear button. Return opens the selected match, Escape clears the text and
// then hides the bar, Down moves into the list.
class QVRSearchField : public QLineEdit
{
    Q_OBJECT

public:
    explicit QVRSearchField(QWidget* parent = nullptr);

    bool hasValue() const { return !text().isEmpty(); }

    // Drawn while the field is empty.
    void setCustomPlaceholderString(const QString& placeholder);
    QString customPlaceholderString() const { return m_customPlaceholderString; }

    // The clear button's place: as far from the right edge as from the top.
    QRect clearButtonRect() const;

    static constexpr int FieldHeight = 22;
    static constexpr int ClearButtonSize = 14;

signals:
    void returnPressedInField();
    void escapePressedWhenEmpty();
    void downPressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void clearText();

    QString m_customPlaceholderString;
    // A real button, shown while there is text, so that a screen reader can
    // find and press it.
    QToolButton* m_clearButton;
};

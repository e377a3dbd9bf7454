#pragma once

#include <QLineEdit>

// The search bar's field: Return opens the selected match, Escape clears the
// text and then hides the bar, Down moves into the list.
class QVRSearchField : public QLineEdit
{
    Q_OBJECT

public:
    explicit QVRSearchField(QWidget* parent = nullptr);

    bool hasValue() const { return !text().isEmpty(); }

signals:
    void returnPressedInField();
    void escapePressedWhenEmpty();
    void downPressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

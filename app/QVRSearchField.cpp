#include "app/QVRSearchField.h"

#include "app/NSColorAdditions.h"
#include "store/QVRLocalizedString.h"

#include <QKeyEvent>

QVRSearchField::QVRSearchField(QWidget* parent) : QLineEdit(parent)
{
    setObjectName(QStringLiteral("searchField"));
    setAccessibleName(QVRLocalizedString(QStringLiteral("Search")));
    setPlaceholderText(QVRLocalizedString(QStringLiteral("Search notes and history")));
    setClearButtonEnabled(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::PlaceholderText, NSColorAdditions::searchPlaceholderTextColor());
    setPalette(palette);
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);
}

void QVRSearchField::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit returnPressedInField();
        return;
    case Qt::Key_Escape:
        // Qt's field keeps its text on Escape: clear it here, and hide the
        // bar once it is empty.
        if (hasValue()) {
            setText(QString());
            emit textEdited(QString());
        } else {
            emit escapePressedWhenEmpty();
        }
        return;
    case Qt::Key_Down:
        emit downPressed();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

#include "app/search/QVRSearchField.h"

#include "app/window/NSColorAdditions.h"
#include "store/QVRLocalizedString.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

#include <cmath>

namespace {

// A grey disc with a white cross, drawn over the field's right end.
class ClearButton : public QToolButton
{
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF disc = rect();
        painter.setPen(Qt::NoPen);
        painter.setBrush(NSColorAdditions::searchPlaceholderTextColor());
        painter.drawEllipse(disc);
        painter.setPen(QPen(Qt::white, 1.5));
        const QPointF c = disc.center();
        painter.drawLine(c + QPointF(-3, -3), c + QPointF(3, 3));
        painter.drawLine(c + QPointF(-3, 3), c + QPointF(3, -3));
    }
};

} // namespace

QVRSearchField::QVRSearchField(QWidget* parent) : QLineEdit(parent), m_clearButton(new ClearButton(this))
{
    setObjectName(QStringLiteral("searchField"));
    setAccessibleName(QVRLocalizedString(QStringLiteral("Search")));
    setCustomPlaceholderString(QVRLocalizedString(QStringLiteral("Search notes and history")));
    setFrame(false);
    setFixedHeight(FieldHeight);
    // The text starts 20 px in and stops short of the clear button; the line
    // edit adds 2 px of its own on each side.
    setTextMargins(18, 0, 18, 0);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::PlaceholderText, NSColorAdditions::searchPlaceholderTextColor());
    setPalette(palette);
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);

    m_clearButton->setObjectName(QStringLiteral("searchClearButton"));
    m_clearButton->setAccessibleName(QVRLocalizedString(QStringLiteral("Clear")));
    m_clearButton->setToolTip(m_clearButton->accessibleName());
    m_clearButton->setCursor(Qt::ArrowCursor);
    // Escape clears from the keyboard; the button would only be one more Tab stop.
    m_clearButton->setFocusPolicy(Qt::NoFocus);
    m_clearButton->setGeometry(clearButtonRect());
    m_clearButton->hide();
    connect(m_clearButton, &QToolButton::clicked, this, [this] {
        clearText();
        setFocus(Qt::MouseFocusReason);
    });
    connect(this, &QLineEdit::textChanged, m_clearButton,
            [this](const QString& text) { m_clearButton->setVisible(!text.isEmpty()); });
}

void QVRSearchField::setCustomPlaceholderString(const QString& placeholder)
{
    m_customPlaceholderString = placeholder;
    setAccessibleDescription(placeholder);
    update();
}

QRect QVRSearchField::clearButtonRect() const
{
    const int y = int(std::round((height() - ClearButtonSize) * 0.5));
    return QRect(width() - ClearButtonSize - y, y, ClearButtonSize, ClearButtonSize);
}

void QVRSearchField::clearText()
{
    setText(QString());
    emit textEdited(QString());
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
        if (hasValue())
            clearText();
        else
            emit escapePressedWhenEmpty();
        return;
    case Qt::Key_Down:
        emit downPressed();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void QVRSearchField::mousePressEvent(QMouseEvent* event)
{
    // The button takes the clicks on it; a press sent to the field itself at
    // the button's place still means the button.
    if (event->button() == Qt::LeftButton && m_clearButton->isVisible() &&
        m_clearButton->geometry().contains(event->position().toPoint())) {
        m_clearButton->click();
        return;
    }
    QLineEdit::mousePressEvent(event);
}

void QVRSearchField::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    m_clearButton->setGeometry(clearButtonRect());
}

void QVRSearchField::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // The bar: a light rounded field with a faint edge.
        const QRectF bar = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = bar.height() / 2;
        painter.setPen(QPen(NSColorAdditions::archivedNoteTextColor().lighter(150), 1));
        painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.75));
        painter.drawRoundedRect(bar, radius, radius);

        // A magnifier in the left margin.
        const QColor mark = NSColorAdditions::searchPlaceholderTextColor();
        painter.setPen(QPen(mark, 1.3));
        painter.setBrush(Qt::NoBrush);
        const QPointF centre(9.5, height() / 2.0 - 1);
        painter.drawEllipse(centre, 3.5, 3.5);
        painter.drawLine(centre + QPointF(2.5, 2.5), centre + QPointF(5.5, 5.5));

        if (!hasValue()) {
            const QRect place(20, 3, width() - 30, height() - 7);
            painter.setFont(font());
            painter.setPen(palette().color(QPalette::PlaceholderText));
            painter.drawText(
                place, Qt::AlignLeft | Qt::AlignVCenter,
                fontMetrics().elidedText(m_customPlaceholderString, Qt::ElideRight, place.width()));
        }
    }
    // The text and the caret are the line edit's own.
    QLineEdit::paintEvent(event);
}

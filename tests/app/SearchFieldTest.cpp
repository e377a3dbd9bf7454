// The search field on its own: what a screen reader finds in it and presses.
#include "app/search/QVRSearchField.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The field's child that a screen reader would announce as the named button.
QAccessibleInterface* buttonNamed(QAccessibleInterface* parent, const QString& name)
{
    for (int i = 0; i < parent->childCount(); ++i) {
        QAccessibleInterface* child = parent->child(i);
        if (child && child->role() == QAccessible::Button && child->text(QAccessible::Name) == name)
            return child;
    }
    return nullptr;
}

} // namespace

TEST(SearchField, ClearButtonIsInTheAccessibilityTreeAndPressingItClears)
{
    QVRSearchField field;
    field.resize(240, QVRSearchField::FieldHeight);
    field.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&field));
    QAccessibleInterface* fieldInterface = QAccessible::queryAccessibleInterface(&field);
    ASSERT_NE(fieldInterface, nullptr);
    EXPECT_EQ(fieldInterface->text(QAccessible::Name), QStringLiteral("Search"));
    QAccessibleInterface* clear = buttonNamed(fieldInterface, QStringLiteral("Clear"));
    ASSERT_NE(clear, nullptr) << "no button named Clear under the search field";
    EXPECT_EQ(clear->parent(), fieldInterface);

    // Shown only while there is something to clear.
    EXPECT_TRUE(clear->state().invisible);
    QTest::keyClicks(&field, "alpha");
    EXPECT_FALSE(clear->state().invisible);
    EXPECT_EQ(clear->rect(),
              QRect(field.mapToGlobal(field.clearButtonRect().topLeft()), field.clearButtonRect().size()));

    // Pressed as a screen reader presses it: the text goes, and the list hears of it.
    QSignalSpy edited(&field, &QLineEdit::textEdited);
    ASSERT_NE(clear->actionInterface(), nullptr);
    clear->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(field.text().isEmpty());
    ASSERT_EQ(edited.size(), 1);
    EXPECT_EQ(edited.at(0).at(0).toString(), QString());
    EXPECT_TRUE(clear->state().invisible);

    // And with the mouse, on the button itself.
    QTest::keyClicks(&field, "beta");
    QWidget* button = field.childAt(field.clearButtonRect().center());
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(field.text().isEmpty());
    EXPECT_TRUE(field.hasFocus());
}

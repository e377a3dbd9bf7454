// The command registry on its own: one declaration, its places, its
// enabling as a menu opens and its guard when its keys fire.
#include "app/commands/CommandRegistry.h"
#include "tests/support/LogCapture.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

class CommandRegistryTest : public ::testing::Test
{
protected:
    QWidget window;
    int saves = 0;
    bool allowed = false;
    QStringList ran;
    MenuValidator* validator = new MenuValidator([this] { ++saves; }, &window);
    CommandRegistry* registry = new CommandRegistry(validator, &window);

    void SetUp() override
    {
        registry->declare({
            {.id = "guarded",
             .title = "Guarded",
             .keys = QKeySequence(Qt::CTRL | Qt::Key_G),
             .condition = [this] { return allowed; },
             .handler = [this] { ran << "guarded"; },
             // The update sees the save already done.
             .update = [this](QAction* item) { item->setText(QStringLiteral("Guarded %1").arg(saves)); }},
            {.id = "free", .title = "Free", .handler = [this] { ran << "free"; }},
        });
    }
};

} // namespace

TEST_F(CommandRegistryTest, DeclaredOnceTheCommandIsTheWindowsAndEveryMenusItem)
{
    QAction* guarded = registry->action("guarded");
    ASSERT_NE(guarded, nullptr);
    EXPECT_EQ(guarded->objectName(), "guarded");
    EXPECT_EQ(guarded->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_G));
    EXPECT_TRUE(window.actions().contains(guarded)) << "its keys need no menu bar";
    EXPECT_EQ(registry->action("missing"), nullptr);

    testsupport::LogCapture log;
    QMenu first, second;
    registry->fill(&first, {"guarded", "-", "free", "missing"});
    registry->fill(&second, {"free", "guarded"});
    EXPECT_EQ(first.actions().size(), 3) << "an unknown identifier is left out";
    EXPECT_TRUE(log.hasLineStartingWith("No command missing"));
    EXPECT_TRUE(first.actions().at(1)->isSeparator());
    EXPECT_EQ(first.actions().first(), second.actions().last()) << "one action, two places";
}

TEST_F(CommandRegistryTest, ConditionEnablesItemsAsAMenuOpensAndGuardsTheKeys)
{
    QMenu menu;
    registry->fill(&menu, {"guarded", "free"});
    QAction* guarded = registry->action("guarded");
    struct Row
    {
        bool allowed;
        bool enabled;
        QStringList ran;
    };
    for (const Row& row : {Row{false, false, {}}, Row{true, true, {"guarded"}}}) {
        allowed = row.allowed;
        ran.clear();
        const int before = saves;
        validator->menuNeedsUpdate(&menu);
        EXPECT_EQ(saves, before + 1) << "the open note is saved as a menu opens";
        EXPECT_EQ(guarded->text(), QStringLiteral("Guarded %1").arg(saves));
        EXPECT_EQ(guarded->isEnabled(), row.enabled);
        EXPECT_TRUE(registry->action("free")->isEnabled());
        // As its keys would: the command saves and checks again.
        guarded->setEnabled(true);
        guarded->trigger();
        EXPECT_EQ(saves, before + 2);
        EXPECT_EQ(ran, row.ran) << row.allowed;
    }
}

TEST_F(CommandRegistryTest, EchoStandsForTheCommandWithoutItsKeys)
{
    QMenu context;
    QAction* echo = registry->addEcho(&context, "guarded");
    ASSERT_NE(echo, nullptr);
    EXPECT_EQ(registry->addEcho(&context, "missing"), nullptr);
    EXPECT_EQ(echo->text(), "Guarded");
    EXPECT_TRUE(echo->shortcut().isEmpty());
    validator->watchMenu(&context);
    for (const bool holds : {false, true}) {
        allowed = holds;
        ran.clear();
        validator->menuNeedsUpdate(&context);
        EXPECT_EQ(echo->isEnabled(), holds);
        echo->setEnabled(true);
        echo->trigger();
        EXPECT_EQ(ran, holds ? QStringList{"guarded"} : QStringList{}) << "the command checks again";
    }
}

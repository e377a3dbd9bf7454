#include "platform/ui/Animation.h"

#include <gtest/gtest.h>

#include <QGraphicsOpacityEffect>
#include <QTest>
#include <QWidget>

namespace animation = platform::animation;

namespace {

// Runs the event loop until no animation group of `owner` is left (each
// deletes itself when it has finished).
bool waitForGroups(QObject* owner)
{
    for (int i = 0; i < 2000; ++i) {
        if (owner->findChildren<animation::AnimationGroup*>().isEmpty())
            return true;
        QTest::qWait(5);
    }
    return false;
}

TEST(Animation, CurvesHaveTheirControlPoints)
{
    // The standard "ease" curve is at 0.8024 halfway; ease-out at 0.6846.
    EXPECT_NEAR(animation::defaultCurve().valueForProgress(0.5), 0.8024, 0.002);
    EXPECT_NEAR(animation::easeOutCurve().valueForProgress(0.5), 0.6846, 0.002);
    EXPECT_NEAR(animation::easeOutCurve().valueForProgress(1.0), 1.0, 1e-9);
    EXPECT_EQ(animation::easeOutCurve().type(), QEasingCurve::BezierSpline);
}

TEST(Animation, OpaqueWidgetLosesItsOpacityEffect)
{
    QWidget parent;
    auto* child = new QWidget(&parent);
    animation::setWidgetAlpha(child, 0.0);
    ASSERT_NE(child->graphicsEffect(), nullptr);
    bool done = false;
    animation::animateAlpha(child, 1.0, 20, animation::easeOutCurve(), [&] { done = true; });
    ASSERT_TRUE(waitForGroups(child));
    EXPECT_TRUE(done);
    EXPECT_EQ(child->graphicsEffect(), nullptr); // text paints crisply again
    EXPECT_DOUBLE_EQ(animation::widgetAlpha(child), 1.0);
}

TEST(Animation, FadedOutWidgetStaysTransparent)
{
    QWidget parent;
    auto* child = new QWidget(&parent);
    animation::animateAlpha(child, 0.0, 20, animation::easeOutCurve());
    ASSERT_TRUE(waitForGroups(child));
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(child->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_DOUBLE_EQ(effect->opacity(), 0.0);
}

TEST(Animation, OpenDuringACloseFadeIsNotClosedByIt)
{
    QWidget window;
    window.show();
    bool closed = false, opened = false;
    animation::animateWindowAlpha(&window, 0.0, 300, animation::easeOutCurve(), [&] { closed = true; });
    animation::animateWindowAlpha(&window, 1.0, 20, animation::easeOutCurve(), [&] { opened = true; });
    ASSERT_TRUE(waitForGroups(&window));
    EXPECT_TRUE(opened);
    EXPECT_FALSE(closed); // the fade-out's completion would hide the window just opened
    EXPECT_DOUBLE_EQ(window.windowOpacity(), 1.0);
}

TEST(Animation, GroupRunsItsCompletionOnceWithEveryEndValueSet)
{
    QWidget parent;
    auto* pane = new QWidget(&parent);
    auto* list = new QWidget(&parent);
    pane->setGeometry(0, 0, 100, 100);
    int completions = 0;
    QRect paneAtCompletion;
    qreal listAlphaAtCompletion = -1;
    auto* group = new animation::AnimationGroup(30, animation::defaultCurve(), &parent);
    group->animateGeometry(pane, QRect(50, 0, 100, 100));
    group->animateAlpha(list, 0.0);
    group->start([&] {
        ++completions;
        paneAtCompletion = pane->geometry();
        listAlphaAtCompletion = animation::widgetAlpha(list);
    });
    ASSERT_TRUE(waitForGroups(&parent));
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(paneAtCompletion, QRect(50, 0, 100, 100));
    EXPECT_DOUBLE_EQ(listAlphaAtCompletion, 0.0);
}

TEST(Animation, FinishEndsAGroupAtOnceAndCompletesItOnce)
{
    QWidget parent;
    auto* pane = new QWidget(&parent);
    pane->setGeometry(0, 0, 100, 100);
    int completions = 0;
    // Far longer than the test: only finish() can end it.
    auto* group = new animation::AnimationGroup(600000, animation::defaultCurve(), &parent);
    group->animateGeometry(pane, QRect(50, 0, 100, 100));
    group->animateAlpha(pane, 0.0);
    group->start([&] { ++completions; });
    ASSERT_TRUE(group->isRunning());
    group->finish();
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(group->isRunning());
    EXPECT_EQ(pane->geometry(), QRect(50, 0, 100, 100));
    EXPECT_DOUBLE_EQ(animation::widgetAlpha(pane), 0.0);
    group->finish();
    EXPECT_EQ(completions, 1);
    ASSERT_TRUE(waitForGroups(&parent));
}

} // namespace

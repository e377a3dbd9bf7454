// Paints the recorder in each style and state. QUILLARY_SAVE_RENDERS=<dir>
// keeps the images for a look by eye.
#include "hotkey/KRRecorderControl.h"
#include "hotkey/KRSharedImageProvider.h"
#include "platform/x11/KeyboardLayout.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace KF = platform::KeyFlags;

namespace {

QImage render(KRRecorderControl& control)
{
    QImage img(control.size(), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    control.render(&img);
    return img;
}

int distinctColours(const QImage& img)
{
    std::set<QRgb> colours;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            colours.insert(img.pixel(x, y));
    return int(colours.size());
}

void save(const QImage& img, const QString& name)
{
    const QString dir = qEnvironmentVariable("QUILLARY_SAVE_RENDERS");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    img.scaled(img.size() * 4).save(dir + u'/' + name + QStringLiteral(".png"));
}

} // namespace

class RecorderLook : public ::testing::TestWithParam<int>
{
};

TEST_P(RecorderLook, EveryStateDrawsSomethingOfItsOwn)
{
    platform::KeyboardLayout::setCurrent(platform::KeyboardLayout::fromNames(QStringLiteral("us")));
    const int style = GetParam();
    KRRecorderControl control;
    control.setStyle(style);
    control.setFrame(QRect(0, 0, 160, 22));
    control.show();
    KRRecorderCell* cell = control.cell();
    const QRectF frame(control.rect());
    std::map<std::string, QImage> shots;

    shots["idle-empty"] = render(control);
    control.setKeyCombo({KF::Command | KF::Option, 40});
    shots["idle-combo"] = render(control);
    cell->mouseMoved(cell->_removeButtonRectForFrame(frame).center(), frame);
    ASSERT_TRUE(cell->mouseInsideTrackingArea());
    shots["idle-hover-remove"] = render(control);
    cell->mousePressed(cell->_removeButtonRectForFrame(frame).center(), frame);
    shots["idle-pressed-remove"] = render(control);
    cell->mouseReleased(QPointF(-10, -10), frame); // let go outside: no action

    cell->_startRecording();
    shots["recording"] = render(control);
    cell->flagsChanged(KF::Command | KF::Shift);
    shots["recording-modifiers"] = render(control);
    cell->flagsChanged(0);
    cell->mouseMoved(cell->_snapbackRectForFrame(frame).center(), frame);
    shots["recording-hover-snapback"] = render(control);
    cell->mousePressed(cell->_snapbackRectForFrame(frame).center(), frame);
    shots["recording-pressed-snapback"] = render(control);
    cell->mouseReleased(QPointF(-10, -10), frame);
    cell->_endRecording();

    if (style == 1) {
        cell->setAnimates(true);
        cell->_startRecordingTransition();
        for (int i = 0; i < 5; ++i)
            cell->_transitionTick();
        ASSERT_TRUE(cell->isAnimatingNow());
        shots["halfway"] = render(control);
        cell->_endRecording();
    }

    std::map<QByteArray, std::string> seen;
    for (const auto& [name, img] : shots) {
        save(img, QStringLiteral("style%1-%2").arg(style).arg(QString::fromStdString(name)));
        EXPECT_GT(distinctColours(img), 4) << name << " looks blank";
        const QByteArray bytes(reinterpret_cast<const char*>(img.constBits()), img.sizeInBytes());
        auto [it, fresh] = seen.emplace(bytes, name);
        EXPECT_TRUE(fresh) << name << " looks the same as " << it->second;
    }
}

INSTANTIATE_TEST_SUITE_P(Styles, RecorderLook, ::testing::Values(0, 1));

TEST(ButtonImages, DrawnOnceAtFourteenPointsWithTheirOpacity)
{
    const QString names[] = {"KRSnapback", "KRRemoveShortcut", "KRRemoveShortcutRollover",
                             "KRRemoveShortcutPressed"};
    for (const QString& name : names) {
        const QPixmap a = KRSharedImageProvider::supportingImageWithName(name);
        EXPECT_EQ(a.deviceIndependentSize(), QSizeF(14, 14)) << name.toStdString();
        EXPECT_EQ(a.cacheKey(), KRSharedImageProvider::supportingImageWithName(name).cacheKey());
        save(a.toImage(), name);
    }
    EXPECT_TRUE(KRSharedImageProvider::supportingImageWithName(QStringLiteral("KRNoSuchImage")).isNull());
    const std::pair<const char*, int> alphas[] = {
        {"KRRemoveShortcut", 64}, {"KRRemoveShortcutRollover", 89}, {"KRRemoveShortcutPressed", 115}};
    for (auto [name, alpha] : alphas) {
        const QImage img =
            KRSharedImageProvider::supportingImageWithName(QString::fromLatin1(name)).toImage();
        const QPointF inside(2.5, 7); // inside the disc, clear of the cross
        EXPECT_NEAR(qAlpha(img.pixel((inside * img.devicePixelRatio()).toPoint())), alpha, 2) << name;
    }
}

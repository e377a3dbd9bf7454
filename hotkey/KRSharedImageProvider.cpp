#include "hotkey/KRSharedImageProvider.h"

#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace {

constexpr qreal kSize = 14;

void drawSnapback(QPainter& p, qreal w, qreal h)
{
    // The outline is given bottom-up in fractions of the size; flip it.
    auto pt = [w, h](qreal x, qreal y) { return QPointF(x * w, (1 - y) * h); };
    QPainterPath path;
    path.moveTo(pt(0.0489685, 0.6181513));
    path.lineTo(pt(0.408575, 0.9469318));
    path.lineTo(pt(0.408575, 0.7226146));
    path.cubicTo(pt(0.408575, 0.7226146), pt(0.8371143, 0.7491841), pt(0.8508247, 0.4836237));
    path.cubicTo(pt(0.8677834, 0.1545071), pt(0.5507195, 0.0530682), pt(0.5507195, 0.0530682));
    path.cubicTo(pt(0.5507195, 0.0530682), pt(0.7458685, 0.1913146), pt(0.7421721, 0.3391942));
    path.cubicTo(pt(0.7383412, 0.4930328), pt(0.408575, 0.515413), pt(0.408575, 0.515413));
    path.lineTo(pt(0.408575, 0.2654));
    path.closeSubpath();
    QTransform t;
    t.scale(0.9, 1);
    t.translate(0.5, 0.5);
    path = t.map(path);
    // A soft shadow one point below, then the white arrow.
    p.fillPath(path.translated(0, 1), QColor(0, 0, 0, int(0.45 * 255)));
    p.fillPath(path.translated(0.4, 1.3), QColor(0, 0, 0, int(0.15 * 255)));
    p.fillPath(path, Qt::white);
}

void drawRemoveBox(QPainter& p, qreal w, qreal h, qreal opacity)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0, 0, 0, float(1 - opacity)));
    p.drawEllipse(QRectF(0, 0, w, h));
    QPen pen(Qt::white, 1.2 * w / 14);
    p.setPen(pen);
    p.drawLine(QPointF(4 * w / 14, 4 * h / 14), QPointF(10 * w / 14, 10 * h / 14));
    p.drawLine(QPointF(10 * w / 14, 4 * h / 14), QPointF(4 * w / 14, 10 * h / 14));
}

struct ImageRecipe
{
    QSizeF size;
    std::function<void(QPainter&, qreal, qreal)> draw;
};

const QHash<QString, ImageRecipe>& recipes()
{
    static const QHash<QString, ImageRecipe> r = {
        {QStringLiteral("KRSnapback"), {QSizeF(kSize, kSize), drawSnapback}},
        {QStringLiteral("KRRemoveShortcut"),
         {QSizeF(kSize, kSize), [](QPainter& p, qreal w, qreal h) { drawRemoveBox(p, w, h, 0.75); }}},
        {QStringLiteral("KRRemoveShortcutRollover"),
         {QSizeF(kSize, kSize), [](QPainter& p, qreal w, qreal h) { drawRemoveBox(p, w, h, 0.65); }}},
        {QStringLiteral("KRRemoveShortcutPressed"),
         {QSizeF(kSize, kSize), [](QPainter& p, qreal w, qreal h) { drawRemoveBox(p, w, h, 0.55); }}},
    };
    return r;
}

} // namespace

QPixmap KRSharedImageProvider::supportingImageWithName(const QString& name)
{
    static QHash<QString, QPixmap> cache;
    if (auto it = cache.find(name); it != cache.end())
        return *it;
    auto recipe = recipes().find(name);
    if (recipe == recipes().end())
        return {};
    const qreal dpr = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pm((recipe->size * dpr).toSize());
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    {
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        recipe->draw(p, recipe->size.width(), recipe->size.height());
    }
    cache.insert(name, pm);
    return pm;
}

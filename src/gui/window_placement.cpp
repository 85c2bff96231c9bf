#include "gui/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "core/app_context.h"
#include "core/conversions.h"
#include "core/ini_file.h"
#include "gui/twips.h"

namespace ondrel {

namespace {

std::optional<int> NumberKey(const QString& file, const QString& section, const char* key) {
    const auto v = ReadNumber(ReadIniString(file, section, QString::fromLatin1(key)));
    if (!v || !(*v >= INT32_MIN && *v <= INT32_MAX)) return std::nullopt;
    return int(std::nearbyint(*v));
}

QRect AvailableArea(const QWidget& w) {
    const QScreen* s = w.screen() ? w.screen() : QGuiApplication::primaryScreen();
    return s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

bool OnSomeScreen(const QRect& frame) {
    for (const QScreen* s : QGuiApplication::screens()) {
        // At least a grip of the title bar must be reachable.
        if (s->availableGeometry().intersects(QRect(frame.topLeft(), QSize(frame.width(), 30))))
            return true;
    }
    return false;
}

// The available area of the screen that holds the point, or the fallback.
QRect ScreenArea(const QPoint& p, const QRect& fallback) {
    const QScreen* s = QGuiApplication::screenAt(p);
    return s ? s->availableGeometry() : fallback;
}

// Halves go to the even neighbour, as the Windows program rounded.
QPoint Centred(const QRect& area, const QSize& size) {
    return QPoint(area.x() + int(std::nearbyint(area.width() / 2.0 - size.width() / 2.0)),
                  area.y() + int(std::nearbyint(area.height() / 2.0 - size.height() / 2.0)));
}

// The outer size a restored window is to have once its frame is known.
constexpr const char* kOuterSize = "ondrelOuterSize";

// A window never opens larger than the screen's available area nor partly off
// it: a larger one sits at the area's top-left corner and its scroll strip
// serves the rest. The frame is not known before the window is shown; the
// title bar's height is kept free for it.
constexpr int kFrameAllowance = 30;

QRect InsideArea(const QRect& area, QPoint pos, QSize size) {
    size = size.boundedTo(QSize(area.width(), std::max(1, area.height() - kFrameAllowance)));
    pos.setX(std::clamp(pos.x(), area.left(), area.left() + area.width() - size.width()));
    pos.setY(std::clamp(pos.y(), area.top(),
                        area.top() + area.height() - kFrameAllowance - size.height()));
    return QRect(pos, size);
}

}  // namespace

void RestoreWindowPlacement(const AppContext& ctx, QWidget& window) {
    const QString file = SettingsFilePath(ctx);
    const QString section = window.objectName();
    const int dpi = LogicalDpi(&window);
    const QRect area = AvailableArea(window);
    const QSize size = window.size();
    const QPoint centred = Centred(area, size);
    const QString state = ReadIniString(file, section, QStringLiteral("WindowState"));
    if (state.isEmpty()) {
        window.setGeometry(InsideArea(area, centred, size));
        return;
    }
    const auto left = NumberKey(file, section, "WinLeft");
    const auto top = NumberKey(file, section, "WinTop");
    QPoint pos(left ? TwipsToPixels(*left, dpi) : centred.x(),
               top ? TwipsToPixels(*top, dpi) : centred.y());
    QSize newSize = size;
    if (section == u"frmOndrel") {
        const auto width = NumberKey(file, section, "WinWidth");
        const auto height = NumberKey(file, section, "WinHeight");
        if (width && *width > 0) newSize.setWidth(TwipsToPixels(*width, dpi));
        if (height && *height > 0) newSize.setHeight(TwipsToPixels(*height, dpi));
    }
    if (!OnSomeScreen(QRect(pos, newSize))) {
        pos = Centred(area, newSize);
    }
    const QRect placed = InsideArea(ScreenArea(pos, area), pos, newSize);
    window.resize(placed.size());
    window.move(placed.topLeft());
    if (newSize != size) window.setProperty(kOuterSize, placed.size());
    // A state that is not a number is read as normal.
    int s = 0;
    try {
        s = ToInt16(state);
    } catch (...) {
        s = 0;
    }
    if (s == 2)
        window.setWindowState(Qt::WindowMaximized);
    else if (s == 1)
        window.setWindowState(Qt::WindowMinimized);
}

void SaveWindowPlacement(const AppContext& ctx, QWidget& window) {
    if (window.isMinimized()) return;
    const QString file = SettingsFilePath(ctx);
    const QString section = window.objectName();
    const int dpi = LogicalDpi(&window);
    const bool maximized = window.isMaximized();
    const QRect frame = window.frameGeometry();
    auto write = [&](const char* key, int value) {
        WriteIniString(file, section, QString::fromLatin1(key), QString::number(value));
    };
    write("WindowState", maximized ? 2 : 0);
    write("WinLeft", PixelsToTwips(frame.x(), dpi));
    write("WinTop", PixelsToTwips(frame.y(), dpi));
    if (!maximized) {
        write("WinWidth", PixelsToTwips(frame.width(), dpi));
        write("WinHeight", PixelsToTwips(frame.height(), dpi));
    }
}

void FitOuterSize(QWidget& window) {
    const QVariant outer = window.property(kOuterSize);
    if (!outer.isValid() || window.isMaximized() || window.isMinimized()) return;
    const QSize frame = window.frameGeometry().size() - window.size();
    if (frame.width() <= 0 && frame.height() <= 0) return;  // not known yet, or no frame
    window.setProperty(kOuterSize, QVariant());
    window.resize(outer.toSize() - frame);
}

void SetTopmost(QWidget& window) { window.setWindowFlag(Qt::WindowStaysOnTopHint, true); }

}  // namespace ondrel

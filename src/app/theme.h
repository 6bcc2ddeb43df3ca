#pragma once

#include <QColor>
#include <QIcon>
#include <QRect>

class QApplication;
class QPainter;

namespace quillora {

/// Colours shared by the screens.
namespace palette {
inline const QColor accent{0x25, 0x63, 0xeb};
inline const QColor accentDark{0x1d, 0x4e, 0xd8};
inline const QColor red{0xdc, 0x26, 0x26};
inline const QColor green{0x16, 0xa3, 0x4a};
inline const QColor blue{0x25, 0x63, 0xeb};
inline const QColor purple{0x93, 0x33, 0xea};
inline const QColor text{0x1f, 0x29, 0x37};
inline const QColor secondaryText{0x6b, 0x72, 0x80};
inline const QColor window{0xf5, 0xf6, 0xf8};
inline const QColor sidebar{0xec, 0xee, 0xf2};
inline const QColor border{0xdd, 0xe1, 0xe7};
}  // namespace palette

/// Fusion style, a light palette, CJK-capable fonts and the shared style sheet.
void applyTheme(QApplication& application);

/// A small line icon for a sidebar route, grey normally and white when selected.
QIcon routeIcon(const QString& route);

/// The product mark: a rounded blue square with a subtitle bar and a wave.
void paintLogo(QPainter& painter, const QRectF& area);
QIcon logoIcon();

}  // namespace quillora

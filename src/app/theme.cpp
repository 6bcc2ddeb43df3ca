#include "app/theme.h"

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>

namespace quillora {

namespace {

const char* const kStyleSheet = R"(
QWidget#Sidebar { background: #eceef2; border-right: 1px solid #dde1e7; }
QTreeWidget#SidebarList { background: transparent; border: none; outline: 0; font-size: 10.5pt; }
QTreeWidget#SidebarList { show-decoration-selected: 0; }
QTreeWidget#SidebarList::branch { background: transparent; border: none; width: 0px; }
QTreeWidget#SidebarList::item { padding: 6px 10px; border-radius: 6px; margin: 1px 10px; color: #1f2937; }
QTreeWidget#SidebarList::item:selected { background: #2563eb; color: white; }
QTreeWidget#SidebarList::item:hover:!selected { background: #dfe3ea; }
QWidget#HeaderBar { background: white; border-bottom: 1px solid #dde1e7; }
QLabel#ScreenTitle { font-size: 15pt; font-weight: 600; color: #1f2937; }
QLabel#Heading { font-size: 17pt; font-weight: 600; color: #1f2937; }
QLabel#SectionTitle { font-size: 11pt; font-weight: 600; color: #374151; }
QLabel#Secondary { color: #6b7280; }
QLabel#ErrorText { color: #dc2626; }
QLabel#ResultText { color: #16a34a; }
QFrame#Card { background: white; border: 1px solid #dde1e7; border-radius: 10px; }
QPushButton { padding: 6px 14px; border-radius: 6px; border: 1px solid #cfd5de; background: white; }
QPushButton:hover { background: #f3f4f6; }
QPushButton:disabled { color: #9ca3af; background: #f3f4f6; }
QPushButton#PrimaryButton { background: #2563eb; color: white; border: none; font-weight: 600; }
QPushButton#PrimaryButton:hover { background: #1d4ed8; }
QPushButton#PrimaryButton:disabled { background: #9ca3af; color: #f3f4f6; }
QPushButton#FileButton { text-align: left; padding: 8px 12px; }
QLabel#FileTitle { font-weight: 600; color: #1f2937; }
QLabel#FilePath { color: #6b7280; }
QCheckBox::indicator, QTableView::indicator { width: 15px; height: 15px; }
QLineEdit { padding: 7px 10px; border: 1px solid #cfd5de; border-radius: 6px; background: white; }
QLineEdit:focus { border: 1px solid #2563eb; }
QTableView { background: white; border: 1px solid #dde1e7; border-radius: 8px;
             gridline-color: #eef0f3; selection-background-color: #dbeafe;
             selection-color: #1f2937; alternate-background-color: #fafbfc; }
QHeaderView::section { background: #f8f9fb; border: none; border-bottom: 1px solid #dde1e7;
                       padding: 6px 8px; font-weight: 600; color: #374151; }
QProgressBar { border: none; background: #e5e7eb; border-radius: 3px; }
QProgressBar::chunk { background: #2563eb; border-radius: 3px; }
)";

}  // namespace

void applyTheme(QApplication& application) {
    application.setStyle(QStyleFactory::create("Fusion"));
    QPalette colours = application.palette();
    colours.setColor(QPalette::Window, palette::window);
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::AlternateBase, QColor(0xfa, 0xfb, 0xfc));
    colours.setColor(QPalette::Text, palette::text);
    colours.setColor(QPalette::WindowText, palette::text);
    colours.setColor(QPalette::ButtonText, palette::text);
    colours.setColor(QPalette::PlaceholderText, QColor(0x9c, 0xa3, 0xaf));
    colours.setColor(QPalette::Highlight, palette::accent);
    application.setPalette(colours);

    // The Chinese texts need a CJK face; Noto Sans CJK SC covers the Latin texts as well. The
    // first installed family is used, without listing every font at start-up.
    QFont font = application.font();
    font.setFamilies(
        {"Noto Sans CJK SC", "Source Han Sans SC", "WenQuanYi Micro Hei", font.family()});
    font.setPointSizeF(10);
    application.setFont(font);
    application.setStyleSheet(kStyleSheet);
    application.setWindowIcon(logoIcon());
}

void paintLogo(QPainter& painter, const QRectF& area) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = std::min(area.width(), area.height());
    const QRectF box(area.center().x() - s / 2, area.center().y() - s / 2, s, s);
    QLinearGradient fill(box.topLeft(), box.bottomRight());
    fill.setColorAt(0, QColor(0x3b, 0x82, 0xf6));
    fill.setColorAt(1, QColor(0x1d, 0x4e, 0xd8));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(box, s * 0.22, s * 0.22);

    // A sound wave over two subtitle lines.
    painter.setBrush(Qt::white);
    const qreal barWidth = s * 0.07;
    const qreal heights[] = {0.14, 0.26, 0.38, 0.22, 0.32, 0.16};
    const qreal waveBase = box.top() + s * 0.48;
    for (int i = 0; i < 6; ++i) {
        const qreal h = s * heights[i];
        const qreal x = box.left() + s * (0.22 + i * 0.1);
        painter.drawRoundedRect(QRectF(x, waveBase - h, barWidth, h), barWidth / 2, barWidth / 2);
    }
    painter.drawRoundedRect(QRectF(box.left() + s * 0.2, box.top() + s * 0.6, s * 0.6, s * 0.08),
                            s * 0.04, s * 0.04);
    painter.setBrush(QColor(255, 255, 255, 170));
    painter.drawRoundedRect(QRectF(box.left() + s * 0.3, box.top() + s * 0.74, s * 0.4, s * 0.08),
                            s * 0.04, s * 0.04);
    painter.restore();
}

namespace {

// Line drawings on a 20 × 20 grid.
void drawRouteSymbol(QPainter& p, const QString& route) {
    if (route == "/dashboard") {  // timeline: clips on two tracks
        p.drawRoundedRect(QRectF(2.5, 4.5, 8, 4), 1.5, 1.5);
        p.drawRoundedRect(QRectF(12.5, 4.5, 5, 4), 1.5, 1.5);
        p.drawRoundedRect(QRectF(5.5, 11.5, 9, 4), 1.5, 1.5);
        p.drawLine(QPointF(2, 18), QPointF(18, 18));
    } else if (route == "/encoding") {  // two arrows
        p.drawLine(QPointF(3, 7), QPointF(16, 7));
        p.drawPolyline(QPolygonF({QPointF(13, 4), QPointF(16, 7), QPointF(13, 10)}));
        p.drawLine(QPointF(17, 13), QPointF(4, 13));
        p.drawPolyline(QPolygonF({QPointF(7, 10), QPointF(4, 13), QPointF(7, 16)}));
    } else if (route == "/txt-counter") {  // lines with a count mark
        for (const qreal y : {5.0, 10.0, 15.0})
            p.drawLine(QPointF(3, y), QPointF(y == 10.0 ? 17 : 12, y));
        p.drawLine(QPointF(15, 3), QPointF(15, 7));
        p.drawLine(QPointF(15, 13), QPointF(15, 17));
    } else if (route == "/srt-to-fcp") {  // film frame
        p.drawRoundedRect(QRectF(2.5, 4.5, 15, 11), 2, 2);
        p.drawLine(QPointF(6, 4.5), QPointF(6, 15.5));
        p.drawLine(QPointF(14, 4.5), QPointF(14, 15.5));
        p.drawLine(QPointF(8.5, 12), QPointF(11.5, 12));
    } else if (route == "/srt-to-column") {  // document with columns
        p.drawRoundedRect(QRectF(3.5, 2.5, 13, 15), 2, 2);
        p.drawLine(QPointF(10, 2.5), QPointF(10, 17.5));
        for (const qreal y : {7.0, 10.5, 14.0}) {
            p.drawLine(QPointF(5.5, y), QPointF(8, y));
            p.drawLine(QPointF(12, y), QPointF(14.5, y));
        }
    } else if (route == "/video-to-srt") {  // screen with a subtitle line
        p.drawRoundedRect(QRectF(2.5, 3.5, 15, 11), 2, 2);
        p.drawLine(QPointF(6, 11), QPointF(14, 11));
        p.drawLine(QPointF(7, 17.5), QPointF(13, 17.5));
    } else if (route == "/profile") {  // person
        p.drawEllipse(QPointF(10, 7), 3.5, 3.5);
        p.drawArc(QRectF(3.5, 12, 13, 11), 0, 180 * 16);
    } else if (route == "/settings") {  // gear
        p.drawEllipse(QPointF(10, 10), 2.5, 2.5);
        p.drawEllipse(QPointF(10, 10), 6, 6);
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(10, 10);
            p.rotate(i * 45);
            p.drawLine(QPointF(0, 6), QPointF(0, 8.5));
            p.restore();
        }
    } else if (route == "/users") {  // two people
        p.drawEllipse(QPointF(7.5, 7), 3, 3);
        p.drawArc(QRectF(2, 12, 11, 10), 0, 180 * 16);
        p.drawEllipse(QPointF(14, 6.5), 2.5, 2.5);
        p.drawArc(QRectF(11.5, 11, 7, 8), 0, 180 * 16);
    }
}

QPixmap routePixmap(const QString& route, const QColor& colour) {
    constexpr int scale = 2;  // sharp on high-density screens
    QPixmap pixmap(20 * scale, 20 * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    drawRouteSymbol(painter, route);
    return pixmap;
}

}  // namespace

QIcon routeIcon(const QString& route) {
    QIcon icon;
    icon.addPixmap(routePixmap(route, QColor(0x4b, 0x55, 0x63)), QIcon::Normal);
    icon.addPixmap(routePixmap(route, Qt::white), QIcon::Selected);
    return icon;
}

QIcon logoIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintLogo(painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace quillora

// Draws the main window's pictures: the phone tree images (16x16) and the tool bar images
// (36x33, each normal, hot and disabled) and writes them as PNG files.
//
//   make_icons OUTDIR [SHEET.png]
//   make_icons --app OUTDIR [SHEET.png]
//
// OUTDIR receives tree_*.png and tool_*.png (src/ui/images in the source tree). With SHEET.png a
// contact sheet of every picture, enlarged four times and at real size, is written too, to look
// the set over; it is not part of the program.
//
// With --app, OUTDIR receives the application icon for the desktop's menu, tarvel-<N>.png at the
// sizes of the icon theme (packaging/icons in the source tree), and SHEET.png shows them on a
// light and a dark background.
//
// All pictures share one style: shapes filled with a top-to-bottom gradient and outlined with a
// 1 px line in a darker shade of the fill, on a transparent background.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QString>

namespace {

// ---- palette -------------------------------------------------------------------------------

struct Tone {
    QColor top;
    QColor bottom;
    QColor line;
};

const Tone kGreen{QColor(0x8a, 0xe0, 0x6e), QColor(0x2c, 0x9a, 0x2c), QColor(0x1a, 0x60, 0x1a)};
const Tone kBlue{QColor(0x86, 0xc0, 0xff), QColor(0x2a, 0x66, 0xc8), QColor(0x18, 0x3c, 0x80)};
const Tone kRed{QColor(0xff, 0x8a, 0x78), QColor(0xd0, 0x26, 0x18), QColor(0x80, 0x14, 0x0c)};
const Tone kFolder{QColor(0xff, 0xe8, 0x96), QColor(0xf0, 0xb4, 0x34), QColor(0x9a, 0x6a, 0x10)};
const Tone kFolderBack{QColor(0xf4, 0xc8, 0x5a), QColor(0xd8, 0x98, 0x22), QColor(0x9a, 0x6a, 0x10)};
const Tone kBody{QColor(0x9a, 0xaa, 0xbe), QColor(0x44, 0x54, 0x6a), QColor(0x22, 0x2c, 0x3a)};
const Tone kScreen{QColor(0xe6, 0xf6, 0xff), QColor(0x86, 0xc4, 0xee), QColor(0x22, 0x2c, 0x3a)};
const Tone kMonitor{QColor(0xf0, 0xf2, 0xf5), QColor(0xb4, 0xbc, 0xc8), QColor(0x4a, 0x52, 0x60)};
const Tone kNote{QColor(0x8a, 0x6a, 0xe0), QColor(0x3a, 0x22, 0x88), QColor(0x22, 0x12, 0x55)};
const Tone kWall{QColor(0xff, 0xfa, 0xea), QColor(0xe6, 0xd4, 0xa8), QColor(0x7a, 0x66, 0x40)};
const Tone kDoor{QColor(0xc8, 0x8a, 0x4a), QColor(0x80, 0x4c, 0x1c), QColor(0x55, 0x30, 0x10)};
const Tone kBoxFront{QColor(0x7a, 0xd8, 0xde), QColor(0x1e, 0x8c, 0x98), QColor(0x0e, 0x4a, 0x52)};
const Tone kBoxTop{QColor(0xc0, 0xf2, 0xf4), QColor(0x88, 0xdc, 0xe2), QColor(0x0e, 0x4a, 0x52)};
const Tone kBoxSide{QColor(0x3a, 0xa8, 0xb2), QColor(0x14, 0x6a, 0x74), QColor(0x0e, 0x4a, 0x52)};
const Tone kSlate{QColor(0x8a, 0x96, 0xa8), QColor(0x3a, 0x44, 0x54), QColor(0x1e, 0x24, 0x2e)};

// ---- basic painting ------------------------------------------------------------------------

// The width of a 1 px outline in the painter's units. The pictures of the window are drawn
// unscaled (1); the application icon is drawn on a grid scaled to each size and keeps its
// outlines about one pixel wide (a little wider at the largest sizes).
qreal gLineUnit = 1.0;

// Fills a path with the tone's gradient over the path's height and outlines it.
void Fill(QPainter& p, const QPainterPath& path, const Tone& tone, qreal lineWidth = 1.0)
{
    const QRectF r = path.boundingRect();
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, tone.top);
    g.setColorAt(1, tone.bottom);
    p.setBrush(g);
    if (lineWidth > 0)
        p.setPen(QPen(tone.line, lineWidth * gLineUnit, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    else
        p.setPen(Qt::NoPen);
    p.drawPath(path);
}

QPainterPath Polygon(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF& pt : points) {
        if (first)
            path.moveTo(pt);
        else
            path.lineTo(pt);
        first = false;
    }
    path.closeSubpath();
    return path;
}

QPainterPath RoundRect(const QRectF& r, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

// A soft white gloss along the top inside edge of a rectangle, for the light 3D look.
void Gloss(QPainter& p, const QRectF& r, qreal radius)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(255, 255, 255, 150));
    g.setColorAt(0.5, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius, radius);
}

// ---- the pieces ----------------------------------------------------------------------------

// A handset: body, screen and keypad in the rectangle (its width should be about 0.4 of its height).
void Handset(QPainter& p, const QRectF& r)
{
    const qreal w = r.width();
    const qreal h = r.height();
    Fill(p, RoundRect(r, w * 0.22), kBody);
    // Earpiece.
    const qreal unit = w / 10.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1a, 0x22, 0x2c));
    p.drawRoundedRect(QRectF(r.center().x() - 2 * unit, r.top() + h * 0.06, 4 * unit, std::max<qreal>(1.0, h * 0.035)), 0.5, 0.5);
    // Screen.
    const QRectF screen(r.left() + w * 0.2, r.top() + h * 0.14, w * 0.6, h * 0.32);
    Fill(p, RoundRect(screen, 0.5), kScreen, w < 9 ? 0.8 : 1.0);
    // Keypad: three columns of keys.
    const int rows = h >= 20 ? 4 : 3;
    const qreal top = r.top() + h * 0.55;
    const qreal bottom = r.bottom() - h * 0.07;
    const qreal pitchY = (bottom - top) / rows;
    const qreal pitchX = w * 0.6 / 3;
    const qreal keyW = std::max<qreal>(1.0, pitchX * 0.65);
    const qreal keyH = std::max<qreal>(1.0, pitchY * 0.6);
    p.setBrush(QColor(0xe8, 0xee, 0xf6));
    for (int row = 0; row < rows; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawRect(QRectF(r.left() + w * 0.2 + col * pitchX + (pitchX - keyW) / 2, top + row * pitchY + (pitchY - keyH) / 2, keyW, keyH));
}

// A closed folder: back tab and body.
void Folder(QPainter& p, const QRectF& r)
{
    const qreal tabH = std::max<qreal>(2.0, r.height() * 0.18);
    const qreal tabW = r.width() * 0.42;
    QPainterPath tab = Polygon({{r.left(), r.top() + tabH}, {r.left() + 1, r.top()}, {r.left() + tabW - 1, r.top()},
                                {r.left() + tabW + 1, r.top() + tabH}});
    Fill(p, tab, kFolderBack);
    const QRectF body(r.left(), r.top() + tabH, r.width(), r.height() - tabH);
    Fill(p, RoundRect(body, 1), kFolder);
    Gloss(p, body, 1);
}

// An open folder: the back with its tab and a front flap leaning forward.
void OpenFolder(QPainter& p, const QRectF& r)
{
    const qreal tabH = std::max<qreal>(2.0, r.height() * 0.18);
    const qreal tabW = r.width() * 0.42;
    QPainterPath back = Polygon({{r.left(), r.bottom()}, {r.left(), r.top()}, {r.left() + tabW - 1, r.top()},
                                 {r.left() + tabW + 1, r.top() + tabH}, {r.right() - 1, r.top() + tabH},
                                 {r.right() - 1, r.bottom()}});
    Fill(p, back, kFolderBack);
    // A sheet of paper peeking out.
    p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(r.left() + 2, r.top() + tabH + 1, r.width() - 5, r.height() * 0.5));
    const qreal flapTop = r.top() + r.height() * 0.42;
    QPainterPath flap = Polygon({{r.left(), r.bottom()}, {r.left() + r.width() * 0.16, flapTop}, {r.right() + 0.5, flapTop},
                                 {r.right() - r.width() * 0.14, r.bottom()}});
    Fill(p, flap, kFolder);
}

// A block arrow pointing up (dir = -1) or down (dir = +1), its tip at `tip`.
void Arrow(QPainter& p, QPointF tip, qreal length, qreal headW, qreal shaftW, int dir, const Tone& tone = kGreen)
{
    const qreal headL = headW * 0.55;
    const qreal x = tip.x();
    const qreal y0 = tip.y();
    const qreal yHead = y0 - dir * headL;
    const qreal yEnd = y0 - dir * length;
    QPainterPath path = Polygon({{x, y0}, {x + headW / 2, yHead}, {x + shaftW / 2, yHead}, {x + shaftW / 2, yEnd},
                                 {x - shaftW / 2, yEnd}, {x - shaftW / 2, yHead}, {x - headW / 2, yHead}});
    Fill(p, path, tone);
}

// A desktop computer: monitor with a blue screen on a small stand.
void Computer(QPainter& p, const QRectF& r)
{
    const QRectF monitor(r.left(), r.top(), r.width(), r.height() * 0.74);
    QPainterPath stand = Polygon({{r.center().x() - 2.5, monitor.bottom()}, {r.center().x() + 2.5, monitor.bottom()},
                                  {r.center().x() + 5, r.bottom()}, {r.center().x() - 5, r.bottom()}});
    Fill(p, stand, kMonitor);
    Fill(p, RoundRect(monitor, 1.5), kMonitor);
    const QRectF screen = monitor.adjusted(2, 2, -2, -2.5);
    Fill(p, RoundRect(screen, 0.5), kBlue);
    Gloss(p, screen, 0.5);
}

// Two beamed eighth notes in the rectangle.
void Notes(QPainter& p, const QRectF& r, qreal lineWidth = 1.0)
{
    const qreal w = r.width();
    const qreal h = r.height();
    const qreal headW = w * 0.42;
    const qreal headH = h * 0.26;
    const qreal stem = std::max<qreal>(1.2, w * 0.13);
    const qreal beam = std::max<qreal>(1.6, h * 0.17);
    // Heads sit at the bottom, left one slightly lower.
    const QRectF head1(r.left(), r.bottom() - headH, headW, headH);
    const QRectF head2(r.right() - headW, r.bottom() - headH - h * 0.12, headW, headH);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    const qreal x1 = head1.right() - stem;
    const qreal x2 = head2.right() - stem;
    const qreal top1 = r.top() + h * 0.12;
    const qreal top2 = r.top();
    path.addPolygon(QPolygonF({QPointF(x1, head1.center().y()), QPointF(x1, top1), QPointF(x2 + stem, top2),
                               QPointF(x2 + stem, head2.center().y()), QPointF(x2, head2.center().y()),
                               QPointF(x2, top2 + beam), QPointF(x1 + stem, top1 + beam),
                               QPointF(x1 + stem, head1.center().y())}));
    path.closeSubpath();
    path.addEllipse(head1);
    path.addEllipse(head2);
    path = path.simplified();
    Fill(p, path, kNote, lineWidth);
}

// A framed little landscape: sky, sun and a green hill.
void Landscape(QPainter& p, const QRectF& r)
{
    p.setPen(Qt::NoPen);
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, QColor(0x7c, 0xc4, 0xff));
    sky.setColorAt(1, QColor(0xd8, 0xf0, 0xff));
    p.setBrush(sky);
    p.drawRect(r);
    p.setBrush(QColor(0xff, 0xd0, 0x20));
    const qreal sun = std::max<qreal>(2.0, r.height() * 0.3);
    p.drawEllipse(QRectF(r.right() - sun - 1, r.top() + 1, sun, sun));
    QPainterPath hill;
    hill.moveTo(r.left(), r.bottom());
    hill.lineTo(r.left(), r.top() + r.height() * 0.65);
    hill.quadTo(QPointF(r.left() + r.width() * 0.35, r.top() + r.height() * 0.2), QPointF(r.left() + r.width() * 0.7, r.top() + r.height() * 0.7));
    hill.lineTo(r.right(), r.top() + r.height() * 0.6);
    hill.lineTo(r.right(), r.bottom());
    hill.closeSubpath();
    p.setBrush(QColor(0x3c, 0xa8, 0x3c));
    p.drawPath(hill);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x40, 0x40, 0x48), 1));
    p.drawRect(r);
}

// A compact camera: body, lens and a flash bump.
void Camera(QPainter& p, const QRectF& r)
{
    const qreal bumpH = std::max<qreal>(1.5, r.height() * 0.22);
    QPainterPath bump = Polygon({{r.left() + r.width() * 0.3, r.top() + bumpH}, {r.left() + r.width() * 0.36, r.top()},
                                 {r.left() + r.width() * 0.64, r.top()}, {r.left() + r.width() * 0.7, r.top() + bumpH}});
    Fill(p, bump, kSlate);
    const QRectF body(r.left(), r.top() + bumpH, r.width(), r.height() - bumpH);
    Fill(p, RoundRect(body, 1), kSlate);
    const qreal d = body.height() * 0.78;
    const QRectF lens(body.center().x() - d / 2, body.center().y() - d / 2, d, d);
    p.setPen(QPen(QColor(0x1e, 0x24, 0x2e), 1));
    p.setBrush(QColor(0xd8, 0xe0, 0xea));
    p.drawEllipse(lens);
    QRadialGradient glass(lens.center() - QPointF(d * 0.15, d * 0.15), d * 0.4);
    glass.setColorAt(0, QColor(0x9a, 0xd0, 0xff));
    glass.setColorAt(1, QColor(0x1a, 0x3a, 0x7a));
    p.setPen(Qt::NoPen);
    p.setBrush(glass);
    p.drawEllipse(lens.adjusted(d * 0.2, d * 0.2, -d * 0.2, -d * 0.2));
}

// A closed box in a light three-quarter view with a "J" on its front face.
void AppBox(QPainter& p, const QRectF& r)
{
    const qreal depth = r.width() * 0.28;
    const QRectF front(r.left(), r.top() + depth * 0.7, r.width() - depth, r.height() - depth * 0.7);
    QPainterPath top = Polygon({{front.left(), front.top()}, {front.left() + depth, r.top()}, {r.right(), r.top()},
                                {front.right(), front.top()}});
    QPainterPath side = Polygon({{front.right(), front.top()}, {r.right(), r.top()}, {r.right(), r.bottom() - depth * 0.7},
                                 {front.right(), front.bottom()}});
    Fill(p, top, kBoxTop);
    Fill(p, side, kBoxSide);
    Fill(p, QPainterPath([&] { QPainterPath f; f.addRect(front); return f; }()), kBoxFront);
    // The "J": a stem with a hook, drawn as a thick white stroke with a dark rim.
    const qreal u = front.width() / 10.0;
    QPainterPath j;
    j.moveTo(front.left() + 4 * u, front.top() + 2.2 * u);
    j.lineTo(front.left() + 7.6 * u, front.top() + 2.2 * u);
    j.moveTo(front.left() + 6.2 * u, front.top() + 2.2 * u);
    j.lineTo(front.left() + 6.2 * u, front.bottom() - 3.6 * u);
    j.cubicTo(QPointF(front.left() + 6.2 * u, front.bottom() - 1.4 * u), QPointF(front.left() + 2.6 * u, front.bottom() - 1.4 * u),
              QPointF(front.left() + 2.6 * u, front.bottom() - 3.4 * u));
    QPainterPathStroker rim;
    rim.setWidth(2.1 * u + 2);
    rim.setCapStyle(Qt::RoundCap);
    rim.setJoinStyle(Qt::RoundJoin);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0e, 0x4a, 0x52));
    p.drawPath(rim.createStroke(j));
    QPainterPathStroker ink;
    ink.setWidth(2.1 * u);
    ink.setCapStyle(Qt::RoundCap);
    ink.setJoinStyle(Qt::RoundJoin);
    p.setBrush(Qt::white);
    p.drawPath(ink.createStroke(j));
}

// ---- the tool bar pictures (36x33) ---------------------------------------------------------

constexpr int kToolW = 36;
constexpr int kToolH = 33;

// The handset on the right of every "to the phone" picture.
const QRectF kRightHandset(22.5, 3.5, 11, 26);

void ToolUpload(QPainter& p)
{
    Handset(p, kRightHandset);
    Folder(p, QRectF(1.5, 17.5, 18, 13));
    Arrow(p, QPointF(10.5, 1.5), 19, 13, 5.5, -1);
}

void ToolDownload(QPainter& p)
{
    Handset(p, QRectF(1.5, 1.5, 10, 24));
    Computer(p, QRectF(14.5, 12.5, 20, 18));
    Arrow(p, QPointF(24.5, 18.5), 17, 13, 5.5, +1);
}

void ToolReload(QPainter& p)
{
    // Two arcs chasing each other round a circle, each ending in an arrow head.
    const QPointF c(18, 16.5);
    const qreal radius = 10.5;
    const qreal band = 4.5;
    auto arcHalf = [&](qreal startDeg, qreal spanDeg) {
        QPainterPath arc;
        const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
        arc.arcMoveTo(box, startDeg);
        arc.arcTo(box, startDeg, spanDeg);
        QPainterPathStroker s;
        s.setWidth(band);
        s.setCapStyle(Qt::FlatCap);
        QPainterPath shape = s.createStroke(arc);
        // The head at the end of the arc, pointing along it.
        const qreal end = (startDeg + spanDeg) * M_PI / 180.0;
        const QPointF at(c.x() + radius * std::cos(end), c.y() - radius * std::sin(end));
        const QPointF out(std::cos(end), -std::sin(end));             // away from the centre
        const QPointF along(std::sin(end), std::cos(end));            // direction of travel (clockwise)
        const qreal dirSign = spanDeg < 0 ? 1.0 : -1.0;
        const QPointF fwd = along * dirSign;
        const qreal half = 5.2;
        const qreal len = 6.0;
        QPainterPath head = Polygon({at + out * half, at + fwd * len, at - out * half});
        shape.addPath(head);
        shape.setFillRule(Qt::WindingFill);
        return shape.simplified();
    };
    Fill(p, arcHalf(160, -125), kBlue);
    Fill(p, arcHalf(-20, -125), kBlue);
}

void ToolGoHome(QPainter& p)
{
    // Chimney, walls, roof, door and a window.
    Fill(p, Polygon({{23.5, 4.5}, {27.5, 4.5}, {27.5, 12.5}, {23.5, 10.5}}), kRed);
    const QRectF walls(7.5, 14.5, 21, 16);
    QPainterPath w;
    w.addRect(walls);
    Fill(p, w, kWall);
    Fill(p, Polygon({{2.5, 16.5}, {18, 2.5}, {33.5, 16.5}, {30.5, 17.5}, {18, 6.5}, {5.5, 17.5}}), kRed);
    QPainterPath door;
    door.addRect(QRectF(11.5, 20.5, 6, 10));
    Fill(p, door, kDoor);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xe0, 0x60));
    p.drawEllipse(QRectF(15.5, 25, 1.2, 1.2));
    QPainterPath window;
    window.addRect(QRectF(20.5, 19.5, 5, 5));
    Fill(p, window, kBlue);
    p.setPen(QPen(kBlue.line, 0.8));
    p.drawLine(QPointF(23, 19.5), QPointF(23, 24.5));
    p.drawLine(QPointF(20.5, 22), QPointF(25.5, 22));
}

void ToolMelody(QPainter& p)
{
    Handset(p, kRightHandset);
    Notes(p, QRectF(2.5, 13.5, 15, 16));
    Arrow(p, QPointF(10.5, 1.5), 11, 11, 4.5, -1);
}

void ToolDelete(QPainter& p)
{
    // A thick diagonal cross.
    const QPointF c(18, 16.5);
    const qreal a = 10.5; // half the arm's reach
    const qreal t = 3.6;  // half the arm's thickness, measured along the axes
    QPainterPath x = Polygon({{c.x() - a, c.y() - a + t}, {c.x() - a + t, c.y() - a}, {c.x(), c.y() - t},
                              {c.x() + a - t, c.y() - a}, {c.x() + a, c.y() - a + t}, {c.x() + t, c.y()},
                              {c.x() + a, c.y() + a - t}, {c.x() + a - t, c.y() + a}, {c.x(), c.y() + t},
                              {c.x() - a + t, c.y() + a}, {c.x() - a, c.y() + a - t}, {c.x() - t, c.y()}});
    Fill(p, x, kRed);
}

void ToolPlay(QPainter& p)
{
    QPainterPath tri = Polygon({{10.5, 5.5}, {28.5, 16.5}, {10.5, 27.5}});
    Fill(p, tri, kGreen);
}

void ToolStop(QPainter& p)
{
    const QRectF r(9.5, 7.5, 18, 18);
    Fill(p, RoundRect(r, 1.5), kBlue);
    Gloss(p, r, 1.5);
}

void ToolMidlet(QPainter& p)
{
    Handset(p, kRightHandset);
    AppBox(p, QRectF(1.5, 13.5, 18, 17));
    Arrow(p, QPointF(10.5, 1.5), 11, 11, 4.5, -1);
}

// ---- the tree pictures (16x16) -------------------------------------------------------------

constexpr int kTreeSize = 16;

void TreeHandset(QPainter& p)
{
    Handset(p, QRectF(4.5, 0.5, 7, 15));
}

void TreeFolder(QPainter& p)
{
    Folder(p, QRectF(0.5, 2.5, 15, 12));
}

void TreeFolderOpen(QPainter& p)
{
    OpenFolder(p, QRectF(0.5, 2.5, 15, 12));
}

void TreeSound(QPainter& p)
{
    Folder(p, QRectF(0.5, 2.5, 15, 12));
    Notes(p, QRectF(5, 6, 8, 8), 0.8);
}

void TreePicture(QPainter& p)
{
    Folder(p, QRectF(0.5, 2.5, 15, 12));
    Landscape(p, QRectF(4.5, 6.5, 9, 7));
}

void TreeCamera(QPainter& p)
{
    Folder(p, QRectF(0.5, 2.5, 15, 12));
    Camera(p, QRectF(4.5, 6.5, 10, 8));
}

// ---- states and output ---------------------------------------------------------------------

QImage Render(int w, int h, const std::function<void(QPainter&)>& draw)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// Hover: a little more saturated and lighter.
QImage Hot(const QImage& normal)
{
    QImage out = normal;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb px = line[x];
            if (qAlpha(px) == 0)
                continue;
            QColor c = QColor::fromRgba(px).toHsl();
            const float s = std::min(1.0f, c.hslSaturationF() * 1.3f);
            const float l = c.lightnessF() + (1.0f - c.lightnessF()) * 0.18f;
            c.setHslF(c.hslHueF(), s, l, c.alphaF());
            line[x] = c.toRgb().rgba();
        }
    }
    return out;
}

// Disabled: grey, lighter and a little faded.
QImage Disabled(const QImage& normal)
{
    QImage out = normal;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb px = line[x];
            if (qAlpha(px) == 0)
                continue;
            const int grey = qGray(px);
            const int v = 120 + grey * 115 / 255;
            line[x] = qRgba(v, v, v, qAlpha(px) * 3 / 4);
        }
    }
    return out;
}

struct Picture {
    const char* name;
    std::function<void(QPainter&)> draw;
};

const std::vector<Picture>& ToolPictures()
{
    static const std::vector<Picture> list = {
        {"upload", ToolUpload}, {"download", ToolDownload}, {"reload", ToolReload},
        {"gohome", ToolGoHome}, {"melody", ToolMelody},     {"delete", ToolDelete},
        {"play", ToolPlay},     {"stop", ToolStop},         {"midlet", ToolMidlet},
    };
    return list;
}

const std::vector<Picture>& TreePictures()
{
    static const std::vector<Picture> list = {
        {"handset", TreeHandset}, {"folder", TreeFolder},   {"sound", TreeSound},
        {"picture", TreePicture}, {"camera", TreeCamera}, {"folder_open", TreeFolderOpen},
    };
    return list;
}

bool Save(const QImage& image, const QString& path)
{
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(path));
    return false;
}

// Every picture enlarged four times on the tool bar's grey, then a strip at real size, on white
// and on a selection blue.
QImage ContactSheet()
{
    constexpr int zoom = 4;
    constexpr int gap = 8;
    const auto& tools = ToolPictures();
    const auto& trees = TreePictures();
    const int cols = static_cast<int>(tools.size());
    const int width = gap + cols * (kToolW * zoom + gap);
    const int height = gap + 3 * (kToolH * zoom + gap) + (kTreeSize * zoom + gap) * 2 + 3 * (kToolH + gap) + gap;
    QImage sheet(width, height, QImage::Format_ARGB32);
    sheet.fill(QColor(0xef, 0xef, 0xef));
    QPainter p(&sheet);
    int y = gap;
    std::vector<std::array<QImage, 3>> states;
    for (const Picture& pic : tools) {
        const QImage n = Render(kToolW, kToolH, pic.draw);
        states.push_back({n, Hot(n), Disabled(n)});
    }
    for (int s = 0; s < 3; ++s) {
        for (int i = 0; i < cols; ++i)
            p.drawImage(gap + i * (kToolW * zoom + gap), y, states[i][s].scaled(kToolW * zoom, kToolH * zoom));
        y += kToolH * zoom + gap;
    }
    for (int row = 0; row < 2; ++row) {
        for (std::size_t i = 0; i < trees.size(); ++i) {
            const QRect cell(gap + static_cast<int>(i) * (kTreeSize * zoom + gap), y, kTreeSize * zoom, kTreeSize * zoom);
            p.fillRect(cell, row == 0 ? QColor(Qt::white) : QColor(0x30, 0x78, 0xd8));
            p.drawImage(cell.topLeft(), Render(kTreeSize, kTreeSize, trees[i].draw).scaled(cell.size()));
        }
        y += kTreeSize * zoom + gap;
    }
    for (int s = 0; s < 3; ++s) {
        for (int i = 0; i < cols; ++i)
            p.drawImage(gap + i * (kToolW + gap), y, states[i][s]);
        y += kToolH + gap;
    }
    // Tree pictures at real size beside the tool strip, as the tree shows them.
    int tx = gap + cols * (kToolW + gap);
    int ty = y - 3 * (kToolH + gap);
    for (int row = 0; row < 2; ++row) {
        for (std::size_t i = 0; i < trees.size(); ++i) {
            const QRect cell(tx + static_cast<int>(i) * (kTreeSize + 6), ty + row * (kTreeSize + 6), kTreeSize, kTreeSize);
            p.fillRect(cell, row == 0 ? QColor(Qt::white) : QColor(0x30, 0x78, 0xd8));
            p.drawImage(cell.topLeft(), Render(kTreeSize, kTreeSize, trees[i].draw));
        }
    }
    p.end();
    return sheet;
}

// ---- the application icon ------------------------------------------------------------------

// The sizes of the icon theme that the package fills.
constexpr std::array<int, 8> kAppSizes = {16, 22, 24, 32, 48, 64, 128, 256};

// The large drawing (32 px and up), on a 48-unit grid: a folder of the PC with a handset in
// front of it, and the two transfer arrows above the folder.
void AppIconLarge(QPainter& p)
{
    Folder(p, QRectF(2.5, 17.5, 30, 25));
    Arrow(p, QPointF(10.5, 2.5), 17, 11, 4.5, -1, kGreen);
    Arrow(p, QPointF(21.5, 24.5), 19, 11, 4.5, +1, kBlue);
    Handset(p, QRectF(28.5, 4.5, 17, 40));
}

// The small drawing (16 to 24 px), on a 24-unit grid: the folder and the handset only.
void AppIconSmall(QPainter& p)
{
    Folder(p, QRectF(0.5, 6.5, 17, 15));
    Handset(p, QRectF(13.5, 0.5, 10, 23));
}

QImage AppIcon(int size)
{
    const bool small = size <= 24;
    const qreal grid = small ? 24.0 : 48.0;
    const qreal scale = size / grid;
    const qreal linePx = std::max<qreal>(1.0, size / 64.0);
    gLineUnit = linePx / scale;
    const QImage image = Render(size, size, [&](QPainter& p) {
        p.scale(scale, scale);
        if (small)
            AppIconSmall(p);
        else
            AppIconLarge(p);
    });
    gLineUnit = 1.0;
    return image;
}

// Every size at real size, on white and on a dark panel colour.
QImage AppIconSheet()
{
    constexpr int gap = 12;
    int width = gap;
    for (int size : kAppSizes)
        width += size + gap;
    const int height = gap + 2 * (kAppSizes.back() + gap);
    QImage sheet(width, height, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter p(&sheet);
    p.fillRect(QRect(0, gap / 2 + kAppSizes.back() + gap, width, kAppSizes.back() + gap), QColor(0x2e, 0x34, 0x40));
    int x = gap;
    for (int size : kAppSizes) {
        const QImage icon = AppIcon(size);
        p.drawImage(x, gap + kAppSizes.back() - size, icon);
        p.drawImage(x, 2 * gap + 2 * kAppSizes.back() - size, icon);
        x += size + gap;
    }
    p.end();
    return sheet;
}

int WriteAppIcons(const QDir& dir, const char* sheetPath)
{
    bool ok = true;
    for (int size : kAppSizes)
        ok &= Save(AppIcon(size), dir.filePath(QStringLiteral("tarvel-%1.png").arg(size)));
    if (sheetPath)
        ok &= Save(AppIconSheet(), QString::fromLocal8Bit(sheetPath));
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const bool app = argc > 1 && std::strcmp(argv[1], "--app") == 0;
    if (app) {
        --argc;
        ++argv;
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_icons [--app] OUTDIR [SHEET.png]\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "make_icons: cannot create %s\n", argv[1]);
        return 1;
    }
    const QDir dir(outDir);
    if (app)
        return WriteAppIcons(dir, argc == 3 ? argv[2] : nullptr);
    bool ok = true;
    for (const Picture& pic : ToolPictures()) {
        const QImage normal = Render(kToolW, kToolH, pic.draw);
        const QString base = QStringLiteral("tool_%1").arg(QLatin1String(pic.name));
        ok &= Save(normal, dir.filePath(base + QStringLiteral(".png")));
        ok &= Save(Hot(normal), dir.filePath(base + QStringLiteral("_hot.png")));
        ok &= Save(Disabled(normal), dir.filePath(base + QStringLiteral("_disabled.png")));
    }
    for (const Picture& pic : TreePictures())
        ok &= Save(Render(kTreeSize, kTreeSize, pic.draw), dir.filePath(QStringLiteral("tree_%1.png").arg(QLatin1String(pic.name))));
    if (argc == 3)
        ok &= Save(ContactSheet(), QString::fromLocal8Bit(argv[2]));
    return ok ? 0 : 1;
}

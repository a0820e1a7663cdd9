// Draws the front panel's background picture at build time, so the resource bundle holds a
// picture of our own: a blue field in the title's colour with a measuring grid, an RF carrier
// under its envelope and waves spreading from the lower right corner. No text, so the picture
// needs no fonts on the build machine.
//
//     zef400-drawbackground OUT.png [WIDTH HEIGHT]     (default 800 480, the controller's screen)

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const QColor PanelBlue(0x00, 0x50, 0x9C);
const QColor DeepBlue(0x00, 0x1E, 0x3C);

void drawField(QPainter& p, const QRectF& r)
{
    QLinearGradient field(r.topLeft(), r.bottomLeft());
    field.setColorAt(0.0, DeepBlue);
    field.setColorAt(0.55, PanelBlue);
    field.setColorAt(1.0, DeepBlue);
    p.fillRect(r, field);

    QRadialGradient glow(r.center() + QPointF(-r.width() / 6, -r.height() / 8), r.width() / 2);
    glow.setColorAt(0.0, QColor(255, 255, 255, 46));
    glow.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.fillRect(r, glow);
}

void drawGrid(QPainter& p, const QRectF& r)
{
    const double step = r.height() / 12;
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    for (double x = std::fmod(r.width() / 2, step); x < r.width(); x += step)
        p.drawLine(QPointF(x, 0), QPointF(x, r.height()));
    for (double y = std::fmod(r.height() / 2, step); y < r.height(); y += step)
        p.drawLine(QPointF(0, y), QPointF(r.width(), y));
}

// A carrier of many periods under a slow envelope, drawn as a band across the middle.
void drawCarrier(QPainter& p, const QRectF& r)
{
    const double middle = r.height() * 0.62;
    const double height = r.height() * 0.16;
    QPainterPath carrier;
    QPainterPath upper;
    QPainterPath lower;
    const int samples = int(r.width()) * 4;
    for (int i = 0; i <= samples; ++i) {
        const double x = r.width() * i / samples;
        const double t = x / r.width();
        const double envelope = 0.35 + 0.65 * std::pow(std::sin(M_PI * t), 2);
        const double y = middle - height * envelope * std::sin(2 * M_PI * 38 * t);
        const QPointF top(x, middle - height * envelope);
        const QPointF bottom(x, middle + height * envelope);
        if (i == 0) {
            carrier.moveTo(x, y);
            upper.moveTo(top);
            lower.moveTo(bottom);
        } else {
            carrier.lineTo(x, y);
            upper.lineTo(top);
            lower.lineTo(bottom);
        }
    }
    p.setPen(QPen(QColor(120, 200, 255, 70), 1.2));
    p.drawPath(carrier);
    p.setPen(QPen(QColor(160, 225, 255, 150), 2.0));
    p.drawPath(upper);
    p.drawPath(lower);
}

void drawWaves(QPainter& p, const QRectF& r)
{
    const QPointF source(r.width() * 0.88, r.height() * 0.92);
    for (int i = 1; i <= 7; ++i) {
        const double radius = r.height() * 0.09 * i;
        p.setPen(QPen(QColor(255, 255, 255, 110 - 12 * i), 3.0 - 0.3 * i));
        p.drawArc(QRectF(source.x() - radius, source.y() - radius, 2 * radius, 2 * radius), 70 * 16,
            80 * 16);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 150));
    p.drawEllipse(source, r.height() * 0.018, r.height() * 0.018);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s OUT.png [WIDTH HEIGHT]\n", argv[0]);
        return 2;
    }
    const int width = argc == 4 ? std::atoi(argv[2]) : 800;
    const int height = argc == 4 ? std::atoi(argv[3]) : 480;
    if (width < 16 || height < 16) {
        std::fprintf(stderr, "%s: width and height must be at least 16\n", argv[0]);
        return 2;
    }

    QImage picture(width, height, QImage::Format_RGB32);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area(0, 0, width, height);
    drawField(p, area);
    drawGrid(p, area);
    drawCarrier(p, area);
    drawWaves(p, area);
    p.end();

    if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}

// Draws the program's icon: keys under a bending pitch line. Run it to
// rewrite data/vanto.png after changing the drawing (data/vanto.svg holds the
// same picture for scalable use).

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const char* out = argc > 1 ? argv[1] : "vanto.png";
    QImage image(256, 256, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, 256);
    background.setColorAt(0, QColor(0x1f, 0x3a, 0x5f));
    background.setColorAt(1, QColor(0x10, 0x1e, 0x33));
    p.setBrush(background);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 40, 40);
    // Five white keys with three black keys between them.
    p.setBrush(QColor(0xf4, 0xf1, 0xe8));
    for (int i = 0; i < 5; ++i)
        p.drawRoundedRect(QRectF(36 + i * 38, 128, 34, 92), 4, 4);
    p.setBrush(QColor(0x1a, 0x1a, 0x1a));
    for (int i : {0, 1, 3})
        p.drawRoundedRect(QRectF(60 + i * 38, 128, 24, 56), 3, 3);
    // The pitch line, bending away from the grid of equal steps.
    QPen grid(QColor(0x6f, 0x8f, 0xb8), 3);
    p.setPen(grid);
    for (int y : {52, 80, 108})
        p.drawLine(QPointF(36, y), QPointF(220, y));
    QPainterPath bend;
    bend.moveTo(36, 100);
    bend.cubicTo(90, 100, 110, 40, 160, 58);
    bend.cubicTo(190, 68, 200, 76, 220, 74);
    p.setPen(QPen(QColor(0xff, 0x9e, 0x2c), 10, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(bend);
    p.end();
    return image.save(out) ? 0 : 1;
}

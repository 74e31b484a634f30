// sample_pictures FOLDER: writes a dozen pictures of our own into FOLDER (made if absent), for the
// demo. They are drawn here, so the same program always writes the same files: BMP (24-bit) and
// JPEG, of several sizes and shapes, with names in mixed case as people leave them.

#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRadialGradient>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Draw = std::function<void(QPainter&, int width, int height)>;

struct Sample {
    const char* name;
    int width;
    int height;
    Draw draw;
};

// The stars must fall in the same places on every run and every machine.
class Lcg {
public:
    explicit Lcg(std::uint32_t seed) : m_state(seed) {}
    int Below(int limit) {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<int>((m_state >> 8) % static_cast<std::uint32_t>(limit));
    }

private:
    std::uint32_t m_state;
};

void FillVertical(QPainter& painter, const QRectF& area, QColor top, QColor bottom) {
    QLinearGradient gradient(area.topLeft(), area.bottomLeft());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.fillRect(area, gradient);
}

void Sunset(QPainter& p, int w, int h) {
    FillVertical(p, QRectF(0, 0, w, h * 0.6), QColor(40, 30, 110), QColor(250, 140, 60));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 210, 90));
    p.drawEllipse(QPointF(w * 0.5, h * 0.6), w * 0.12, w * 0.12);
    FillVertical(p, QRectF(0, h * 0.6, w, h * 0.4), QColor(30, 60, 120), QColor(10, 20, 50));
    p.setBrush(QColor(255, 190, 90, 120));
    for (int i = 0; i < 6; ++i)
        p.drawRect(QRectF(w * (0.42 + 0.01 * i), h * (0.63 + 0.05 * i), w * (0.16 - 0.02 * i), 4));
}

void Harbour(QPainter& p, int w, int h) {
    FillVertical(p, QRectF(0, 0, w, h * 0.55), QColor(150, 200, 240), QColor(230, 240, 250));
    FillVertical(p, QRectF(0, h * 0.55, w, h * 0.45), QColor(20, 90, 140), QColor(10, 40, 80));
    p.setPen(Qt::NoPen);
    const QColor hulls[] = {QColor(200, 40, 40), QColor(250, 250, 250), QColor(240, 180, 30)};
    for (int i = 0; i < 5; ++i) {
        const double x = w * (0.08 + 0.19 * i);
        const double y = h * 0.62;
        p.setBrush(hulls[i % 3]);
        p.drawPolygon(QPolygonF({QPointF(x, y), QPointF(x + 120, y), QPointF(x + 100, y + 30),
                                 QPointF(x + 20, y + 30)}));
        p.setBrush(QColor(245, 245, 235));
        p.drawPolygon(QPolygonF(
            {QPointF(x + 60, y - 110), QPointF(x + 60, y - 5), QPointF(x + 10 + 8 * i, y - 5)}));
    }
}

void Tiles(QPainter& p, int w, int h) {
    const int size = 8;
    for (int y = 0; y < h; y += size)
        for (int x = 0; x < w; x += size)
            p.fillRect(x, y, size, size,
                       ((x + y) / size) % 2 == 0 ? QColor(180, 60, 40) : QColor(240, 230, 200));
}

void Portrait(QPainter& p, int w, int h) {
    QRadialGradient glow(QPointF(w * 0.5, h * 0.4), h * 0.7);
    glow.setColorAt(0, QColor(250, 230, 200));
    glow.setColorAt(1, QColor(90, 50, 70));
    p.fillRect(0, 0, w, h, glow);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 40, 50));
    p.drawEllipse(QPointF(w * 0.5, h * 0.95), w * 0.4, h * 0.3);
    p.setBrush(QColor(230, 190, 160));
    p.drawEllipse(QPointF(w * 0.5, h * 0.42), w * 0.2, h * 0.17);
}

void Meadow(QPainter& p, int w, int h) {
    FillVertical(p, QRectF(0, 0, w, h), QColor(120, 180, 250), QColor(220, 240, 255));
    p.setPen(Qt::NoPen);
    const QColor greens[] = {QColor(90, 160, 60), QColor(60, 130, 40), QColor(40, 100, 30)};
    for (int i = 0; i < 3; ++i) {
        QPainterPath hill;
        const double base = h * (0.55 + 0.15 * i);
        hill.moveTo(0, base);
        hill.cubicTo(w * 0.3, base - 90 + 30 * i, w * 0.6, base + 60, w, base - 40);
        hill.lineTo(w, h);
        hill.lineTo(0, h);
        p.setBrush(greens[i]);
        p.drawPath(hill);
    }
}

void Stripes(QPainter& p, int w, int h) {
    p.fillRect(0, 0, w, h, QColor(30, 30, 40));
    p.setPen(QPen(QColor(60, 200, 190), 14));
    for (int x = -h; x < w; x += 40)
        p.drawLine(x, h, x + h, 0);
}

void NightSky(QPainter& p, int w, int h) {
    FillVertical(p, QRectF(0, 0, w, h), QColor(5, 5, 30), QColor(30, 30, 80));
    Lcg random(2024);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 220; ++i) {
        const int shade = 150 + random.Below(105);
        p.setBrush(QColor(shade, shade, 255));
        const double radius = 0.5 + random.Below(20) / 10.0;
        p.drawEllipse(QPointF(random.Below(w), random.Below(h)), radius, radius);
    }
    p.setBrush(QColor(250, 250, 220));
    p.drawEllipse(QPointF(w * 0.8, h * 0.25), 34, 34);
    p.setBrush(QColor(12, 12, 45));
    p.drawEllipse(QPointF(w * 0.8 - 14, h * 0.25 - 8), 30, 30);
}

void Circles(QPainter& p, int w, int h) {
    p.fillRect(0, 0, w, h, Qt::white);
    p.setPen(Qt::NoPen);
    for (int r = w / 2; r > 0; r -= 12) {
        p.setBrush(QColor::fromHsv((r * 7) % 360, 200, 230));
        p.drawEllipse(QPointF(w / 2.0, h / 2.0), r, r);
    }
}

void Lighthouse(QPainter& p, int w, int h) {
    FillVertical(p, QRectF(0, 0, w, h * 0.75), QColor(250, 200, 150), QColor(170, 210, 240));
    FillVertical(p, QRectF(0, h * 0.75, w, h * 0.25), QColor(40, 110, 150), QColor(20, 50, 90));
    p.setPen(Qt::NoPen);
    const double left = w * 0.38;
    const double right = w * 0.62;
    for (int band = 0; band < 6; ++band) {
        const double top = h * (0.2 + 0.09 * band);
        const double inset = band * 4.0;
        p.setBrush(band % 2 == 0 ? QColor(220, 40, 40) : QColor(250, 250, 250));
        p.drawRect(QRectF(left - inset, top, right - left + 2 * inset, h * 0.09 + 1));
    }
    p.setBrush(QColor(255, 240, 140));
    p.drawRect(QRectF(left + 6, h * 0.13, right - left - 12, h * 0.07));
}

void Mosaic(QPainter& p, int w, int h) {
    const int columns = 8;
    const int rows = 6;
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column)
            p.fillRect(w * column / columns, h * row / rows, w / columns + 1, h / rows + 1,
                       QColor::fromHsv((column * 45 + row * 20) % 360, 160, 120 + row * 20));
}

void Dunes(QPainter& p, int w, int h) {
    FillVertical(p, QRectF(0, 0, w, h), QColor(255, 240, 200), QColor(250, 200, 120));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        QPainterPath dune;
        const double base = h * (0.45 + 0.15 * i);
        dune.moveTo(0, base + 20);
        dune.quadTo(w * (0.2 + 0.15 * i), base - 80, w * (0.5 + 0.1 * i), base + 10);
        dune.quadTo(w * 0.8, base + 40, w, base - 20);
        dune.lineTo(w, h);
        dune.lineTo(0, h);
        p.setBrush(QColor(230 - 20 * i, 160 - 20 * i, 80 - 10 * i));
        p.drawPath(dune);
    }
}

void Dot(QPainter& p, int w, int h) {
    p.fillRect(0, 0, w, h, QColor(250, 250, 250));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 120, 220));
    p.drawEllipse(QPointF(w / 2.0, h / 2.0), w * 0.35, w * 0.35);
}

const std::vector<Sample>& Samples() {
    static const std::vector<Sample> samples = {
        {"Sunset.jpg", 640, 480, Sunset},
        {"harbour.JPEG", 1024, 300, Harbour},
        {"Tiles.bmp", 64, 64, Tiles},
        {"Portrait.JPG", 480, 640, Portrait},
        {"meadow.jpeg", 800, 600, Meadow},
        {"Stripes.BMP", 300, 200, Stripes},
        {"NightSky.jpg", 640, 360, NightSky},
        {"circles.bmp", 200, 200, Circles},
        {"Lighthouse.jpg", 360, 720, Lighthouse},
        {"Mosaic.Bmp", 320, 240, Mosaic},
        {"Dunes.JPEG", 1200, 400, Dunes},
        {"dot.bmp", 32, 48, Dot},
    };
    return samples;
}

// The file name in the corner, so that a thumbnail can be matched with its file by eye.
void Label(QPainter& p, const QString& name, int width, int height) {
    if (width < 120)
        return;
    QFont font("DejaVu Sans");
    font.setPixelSize(std::max(12, height / 14));
    font.setBold(true);
    p.setFont(font);
    const QRect box(8, 6, width - 16, font.pixelSize() * 2);
    p.setPen(QColor(0, 0, 0, 140));
    p.drawText(box.translated(2, 2), Qt::AlignLeft | Qt::AlignTop, name);
    p.setPen(Qt::white);
    p.drawText(box, Qt::AlignLeft | Qt::AlignTop, name);
}

bool Write(const QDir& folder, const Sample& sample) {
    QImage image(sample.width, sample.height, QImage::Format_RGB888);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        sample.draw(painter, sample.width, sample.height);
        Label(painter, QString::fromLatin1(sample.name), sample.width, sample.height);
    }
    const QString path = folder.filePath(QString::fromLatin1(sample.name));
    const bool jpeg = QString::fromLatin1(sample.name).contains(".jp", Qt::CaseInsensitive);
    // Qt writes a 24-bit BMP for an image without alpha.
    return image.save(path, jpeg ? "JPG" : "BMP", 88);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sample_pictures FOLDER\n");
        return 2;
    }
    // Text needs a font database, hence an application, but never a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(".")) {
        std::fprintf(stderr, "sample_pictures: cannot make folder %s\n", argv[1]);
        return 1;
    }
    for (const Sample& sample : Samples()) {
        if (!Write(folder, sample)) {
            std::fprintf(stderr, "sample_pictures: cannot write %s in %s\n", sample.name, argv[1]);
            return 1;
        }
    }
    std::printf("sample_pictures: wrote %zu pictures in %s\n", Samples().size(), argv[1]);
    return 0;
}

#include "tests/support/picture_files.h"

#include <QImage>
#include <QImageWriter>

#include <stdexcept>

namespace test {

void WriteJpeg(const std::filesystem::path& path, int width, int height,
               const std::function<Rgb(int x, int y)>& pixel, int quality, bool progressive) {
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb colour = pixel(x, y);
            image.setPixel(x, y, qRgb(colour.r, colour.g, colour.b));
        }
    }
    QImageWriter writer(QString::fromStdString(path.string()), "JPG");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image))
        throw std::runtime_error("cannot write " + path.string());
}

void WriteJpeg(const std::filesystem::path& path, int width, int height, Rgb colour) {
    WriteJpeg(path, width, height, [colour](int, int) { return colour; });
}

} // namespace test

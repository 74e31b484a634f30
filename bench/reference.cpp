#include "bench/reference.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace bench {

namespace {

struct TAxisTaps {
    std::vector<int> first;
    std::vector<std::vector<double>> weights;
};

TAxisTaps AxisTaps(int sourceSize, int size) {
    const double scale = double(sourceSize) / size;
    const double stretch = std::max(1.0, scale);
    const double support = 3 * stretch;
    TAxisTaps taps;
    for (int d = 0; d < size; ++d) {
        const double centre = (d + 0.5) * scale - 0.5;
        const int first = std::max(0, int(std::ceil(centre - support)));
        const int last = std::min(sourceSize - 1, int(std::floor(centre + support)));
        std::vector<double> weights;
        double sum = 0;
        for (int s = first; s <= last; ++s) {
            weights.push_back(Lanczos3((s - centre) / stretch));
            sum += weights.back();
        }
        for (double& weight : weights)
            weight /= sum;
        taps.first.push_back(first);
        taps.weights.push_back(std::move(weights));
    }
    return taps;
}

} // namespace

double Lanczos3(double x) {
    x = std::abs(x);
    if (x < 1e-12)
        return 1;
    if (x >= 3)
        return 0;
    const double pix = std::numbers::pi * x;
    return 3 * std::sin(pix) * std::sin(pix / 3) / (pix * pix);
}

TPicture LanczosResize(const TPicture& picture, int width, int height) {
    const TAxisTaps across = AxisTaps(picture.width, width);
    const TAxisTaps down = AxisTaps(picture.height, height);
    // Horizontal first: the wide source rows shrink to the thumbnail's width at once.
    std::vector<double> rows(std::size_t(picture.height) * std::size_t(width) * 3);
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* source = picture.Row(y);
        double* out = &rows[std::size_t(y) * std::size_t(width) * 3];
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                const std::vector<double>& weights = across.weights[std::size_t(x)];
                for (std::size_t k = 0; k < weights.size(); ++k)
                    sum += weights[k] * source[(std::size_t(across.first[std::size_t(x)]) + k) * 3 +
                                               std::size_t(c)];
                out[x * 3 + c] = sum;
            }
    }
    TPicture result(width, height);
    for (int y = 0; y < height; ++y) {
        const std::vector<double>& weights = down.weights[std::size_t(y)];
        for (int i = 0; i < width * 3; ++i) {
            double sum = 0;
            for (std::size_t k = 0; k < weights.size(); ++k)
                sum += weights[k] *
                       rows[(std::size_t(down.first[std::size_t(y)]) + k) * std::size_t(width) * 3 +
                            std::size_t(i)];
            result.Row(y)[i] = std::uint8_t(std::clamp(std::lround(sum), 0L, 255L));
        }
    }
    return result;
}

double Psnr(const TPicture& a, const TPicture& b) {
    if (a.width != b.width || a.height != b.height)
        throw std::runtime_error("PSNR of pictures of different sizes");
    double squares = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        const double difference = double(a.pixels[i]) - b.pixels[i];
        squares += difference * difference;
    }
    if (squares == 0)
        return std::numeric_limits<double>::infinity();
    const double meanSquare = squares / double(a.pixels.size());
    return 10 * std::log10(255.0 * 255.0 / meanSquare);
}

} // namespace bench

#include "tests/support/reduction_reference.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace test {

namespace {

struct TWeights {
    int first = 0;
    std::vector<double> weights;
};

std::vector<TWeights> LanczosWeights(int source, int destination) {
    const double scale = static_cast<double>(source) / destination;
    std::vector<TWeights> all;
    for (int d = 0; d < destination; ++d) {
        const double centre = (d + 0.5) * scale - 0.5;
        TWeights taps;
        taps.first = std::max(0, static_cast<int>(centre - 3 * scale));
        const int last = std::min(source - 1, static_cast<int>(centre + 3 * scale) + 1);
        double sum = 0;
        for (int s = taps.first; s <= last; ++s) {
            const double x = std::abs(s - centre) / scale;
            const double pix = std::numbers::pi * x;
            taps.weights.push_back(x < 1e-9 ? 1.0
                                   : x >= 3 ? 0.0
                                            : 3 * std::sin(pix) * std::sin(pix / 3) / (pix * pix));
            sum += taps.weights.back();
        }
        for (double& weight : taps.weights)
            weight /= sum;
        all.push_back(std::move(taps));
    }
    return all;
}

} // namespace

std::vector<double> LanczosReduce(const TConstRgbRows& source, int width, int height, int channel) {
    const auto across = LanczosWeights(source.width, width);
    const auto down = LanczosWeights(source.height, height);
    const auto columns = static_cast<std::size_t>(width);
    std::vector<double> rows(static_cast<std::size_t>(source.height) * columns);
    for (int y = 0; y < source.height; ++y)
        for (int x = 0; x < width; ++x) {
            const TWeights& taps = across[static_cast<std::size_t>(x)];
            const std::uint8_t* pixel = source.Row(y) + std::ptrdiff_t{taps.first} * 3 + channel;
            double sum = 0;
            for (std::size_t k = 0; k < taps.weights.size(); ++k)
                sum += taps.weights[k] * pixel[k * 3];
            rows[static_cast<std::size_t>(y) * columns + x] = sum;
        }
    std::vector<double> result(static_cast<std::size_t>(height) * columns);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TWeights& taps = down[static_cast<std::size_t>(y)];
            double sum = 0;
            for (std::size_t k = 0; k < taps.weights.size(); ++k)
                sum += taps.weights[k] *
                       rows[(static_cast<std::size_t>(taps.first) + k) * columns + x];
            result[static_cast<std::size_t>(y) * columns + x] = sum;
        }
    return result;
}

} // namespace test

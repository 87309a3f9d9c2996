// The transforms against the plain sums they stand for, at the sizes the analyses use
// and the smallest ones the fused first stages meet.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "measure/fft.h"

using namespace measure;

namespace {

std::vector<std::complex<double>> plainDft(const std::vector<std::complex<double>>& x, double sign) {
    const size_t n = x.size();
    std::vector<std::complex<double>> out(n);
    for (size_t k = 0; k < n; ++k)
        for (size_t m = 0; m < n; ++m)
            out[k] += x[m] * std::polar(1.0, sign * 2.0 * std::numbers::pi * double(k * m % n) / double(n));
    return out;
}

TEST(Fft, ComplexTransformsMatchThePlainSums) {
    for (size_t n : {1u, 2u, 4u, 8u, 64u, 512u}) {
        std::vector<std::complex<double>> x(n);
        for (size_t i = 0; i < n; ++i)
            x[i] = {std::sin(0.7 * double(i)) + 0.1 * double(i % 5), std::cos(1.3 * double(i * i))};
        const Fft fft(n);
        std::vector<std::complex<double>> data = x;
        fft.forward(data);
        const auto expected = plainDft(x, -1.0);
        for (size_t k = 0; k < n; ++k)
            ASSERT_LT(std::abs(data[k] - expected[k]), 1e-9 * double(n)) << n << " bin " << k;
        fft.inverse(data);
        for (size_t i = 0; i < n; ++i)
            ASSERT_LT(std::abs(data[i] - x[i]), 1e-12 * double(n)) << n << " sample " << i;
    }
}

TEST(Fft, RealTransformsMatchThePlainSumsAndInvert) {
    for (size_t n : {2u, 4u, 16u, 1024u}) {
        std::vector<double> x(n);
        std::vector<std::complex<double>> asComplex(n);
        for (size_t i = 0; i < n; ++i)
            asComplex[i] = x[i] = std::sin(0.37 * double(i * i)) - 0.25;
        RealFft fft(n);
        std::vector<std::complex<double>> spectrum;
        fft.forward(x, spectrum);
        ASSERT_EQ(spectrum.size(), n / 2 + 1);
        const auto expected = plainDft(asComplex, -1.0);
        for (size_t k = 0; k <= n / 2; ++k)
            ASSERT_LT(std::abs(spectrum[k] - expected[k]), 1e-9 * double(n)) << n << " bin " << k;
        std::vector<double> back;
        fft.inverse(spectrum, back);
        for (size_t i = 0; i < n; ++i)
            ASSERT_NEAR(back[i], x[i], 1e-12 * double(n)) << n << " sample " << i;
    }
}

} // namespace

#pragma once

// Private to the platform: conversion of a picture's pixels from its embedded ICC profile to sRGB.

#include "platform/core/raster.h"

#include <cstdint>
#include <memory>
#include <span>

// The pixels a profile is applied to: 24-bit RGB (a grey picture's as three equal bytes) or the
// four inks of a CMYK picture, stored plainly or inverted as Adobe's files do.
enum class TProfilePixels { Rgb, Grey, Inks, InvertedInks };

class TColourTransformData;

// One profile's conversion to sRGB, relative colorimetric with black-point compensation. Made
// through ColourTransformFor and shared by every picture with that profile; any thread may use one,
// many at a time.
class TColourTransform {
public:
    explicit TColourTransform(std::unique_ptr<TColourTransformData> data);
    ~TColourTransform();
    TColourTransform(const TColourTransform&) = delete;
    TColourTransform& operator=(const TColourTransform&) = delete;

    // Whether the pixels it takes are inks, which become RGB as they are decoded.
    bool TakesInks() const;
    // Converts the RGB rows in place (Rgb and Grey transforms).
    void ConvertRows(const TRgbRows& rows) const;
    // Converts count CMYK pixels to RGB (Inks and InvertedInks transforms).
    void ConvertInks(const std::uint8_t* cmyk, std::uint8_t* rgb, int count) const;

private:
    std::unique_ptr<TColourTransformData> m_data;
};

// The conversion of pixels of that kind from the profile to sRGB; null when none is wanted: no
// profile, an sRGB one, one for other pixels (a CMYK profile on an RGB picture), or one that
// LittleCMS rejects. Each distinct profile is opened once, however many pictures carry it.
std::shared_ptr<const TColourTransform> ColourTransformFor(std::span<const std::uint8_t> profile,
                                                           TProfilePixels pixels);

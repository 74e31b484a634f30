#pragma once

#include <cstddef>
#include <cstdint>

// A conversion of 24-bit colours that gives a colour the same result every time, as a colour
// profile's transform does. Owned by whoever made it; any thread may use it, many at a time.
class TColourConversion {
public:
    TColourConversion();
    virtual ~TColourConversion() = default;
    TColourConversion(const TColourConversion&) = delete;
    TColourConversion& operator=(const TColourConversion&) = delete;

    // Converts count pixels of three bytes in place.
    virtual void Convert(std::uint8_t* pixels, std::size_t count) const = 0;

    // The same conversion, to the bit, through the calling thread's memo of the colours it last
    // converted with this conversion: Convert is asked only for those not found there.
    void ConvertRemembering(std::uint8_t* pixels, std::size_t count) const;

private:
    // Told apart from every other conversion made in the process, even one made where a deleted
    // one was: a thread's memo belongs to one conversion at a time.
    std::uint64_t m_serial;
};

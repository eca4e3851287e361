// Conversion between the logic's UTF-16 text and UTF-8 bytes. Bytes that are not valid UTF-8
// travel as lone surrogates U+DC80..U+DCFF and convert back to the same bytes, so that every
// name on a Linux disk survives the round trip.
#pragma once

#include "platform_services.h"

#include <string>
#include <string_view>

namespace pellatrix {

Text fromUtf8(std::string_view bytes);
std::string toUtf8(std::u16string_view text);

// Length of the valid UTF-8 sequence at bytes[i] and its code point, or 0 when invalid
// (overlong forms, surrogates and values above U+10FFFF are invalid).
std::size_t decodeUtf8At(std::string_view bytes, std::size_t i, char32_t& cp);

} // namespace pellatrix

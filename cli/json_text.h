// Text as a JSON string literal.
#pragma once

#include <string>

namespace zorbelu::cli {

// `text` quoted for JSON, always valid UTF-8 whatever the bytes: each
// ill-formed UTF-8 sequence (a stray continuation byte, an overlong form, a
// surrogate, a code point above U+10FFFF, a truncated sequence) becomes one
// U+FFFD per maximal ill-formed part, and control bytes are escaped.
// Well-formed text keeps its bytes.
std::string JsonString(const std::string& text);

}  // namespace zorbelu::cli

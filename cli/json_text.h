// JSON text that is valid UTF-8 whatever bytes went into it.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace zorbelu::cli {

// `text` as well-formed UTF-8: each ill-formed sequence (a stray
// continuation byte, an overlong form, a surrogate, a code point above
// U+10FFFF, a truncated sequence) becomes one U+FFFD per maximal
// ill-formed part. Well-formed text keeps its bytes.
std::string ValidUtf8(const std::string& text);

// `value` as one line of JSON, every string of it made valid UTF-8 first
// (so the writer never throws on bytes from a token or a file name).
std::string JsonText(nlohmann::ordered_json value);

}  // namespace zorbelu::cli

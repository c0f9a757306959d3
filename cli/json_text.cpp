#include "json_text.h"


namespace zorbelu::cli {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence that starts at `at`, or 0
// when none does; then `*illFormed` is the number of bytes one U+FFFD
// stands for (the lead byte and the continuation bytes that still fitted).
size_t WellFormedLength(const std::string& text, size_t at, size_t* illFormed) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlongs
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // no overlongs
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        *illFormed = 1;  // a continuation byte, C0, C1 or F5 to FF
        return 0;
    }
    size_t fitted = 1;
    for (; fitted < length && at + fitted < text.size(); ++fitted) {
        const unsigned char next = static_cast<unsigned char>(text[at + fitted]);
        if (next < (fitted == 1 ? low : 0x80) || next > (fitted == 1 ? high : 0xBF)) break;
    }
    if (fitted == length) return length;
    *illFormed = fitted;
    return 0;
}

void MakeValidUtf8(nlohmann::ordered_json& value) {
    if (value.is_string()) {
        value = ValidUtf8(value.get_ref<const std::string&>());
    } else if (value.is_structured()) {
        for (auto& item : value) MakeValidUtf8(item);
    }
}

}  // namespace

std::string ValidUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        size_t illFormed = 0;
        const size_t length = WellFormedLength(text, at, &illFormed);
        if (length == 0) {
            out += kReplacement;
            at += illFormed;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

std::string JsonText(nlohmann::ordered_json value) {
    MakeValidUtf8(value);
    // Object keys are zorbelu's own ASCII; "replace" is only a safety net.
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace zorbelu::cli

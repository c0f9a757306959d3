// Dialog units and pixels.
//
// Templates place controls in dialog units: a quarter of the dialog font's
// average character width horizontally, an eighth of its height vertically.
// The runtime turns them into pixels through one fixed base unit for every
// dialog, whatever font a backend ends up using:
//
//   x pixels = x units * 7 / 4     (base width 7 px)
//   y pixels = y units * 16 / 8    (base height 16 px)
//
// rounded to the nearest pixel as MulDiv does. The values are those of a
// 9-point sans-serif face at 96 dpi (the templates' font) as the GTK backend
// draws it: DejaVu Sans 9 pt averages about 7 px a character, a little wider
// than the face the templates were laid out for, and its line box is about
// 15 px, so that a label 8 units high (16 px) holds one line and an edit of
// 16 units (32 px) holds a field with its frame.
//
// Those are the runtime's pixels, the same on every backend and in every
// test. A backend that draws the dialog font larger (larger text, a higher
// Xft.dpi, GDK_DPI_SCALE) measures the font it really uses and maps every
// rectangle onto that font's own base unit (ToFontPixels); at the reference
// font the mapping changes nothing.
#pragma once

#include "ui/dialog_template.h"

namespace zorbelu::platform {

inline constexpr int kBaseUnitX = 7;
inline constexpr int kBaseUnitY = 16;

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelRect& a, const PixelRect& b) {
        return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
    }
};

// number * numerator / denominator, rounded half away from zero.
constexpr int MulDiv(int number, int numerator, int denominator) {
    const long long product = static_cast<long long>(number) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

constexpr int DialogUnitsToPixelsX(int units) { return MulDiv(units, kBaseUnitX, 4); }
constexpr int DialogUnitsToPixelsY(int units) { return MulDiv(units, kBaseUnitY, 8); }

// The Windows MapDialogRect: a rectangle in dialog units to pixels. Edges
// are mapped, not sizes, so that adjacent controls stay adjacent.
constexpr PixelRect MapDialogRect(const ZorbeluDialogRect& r) {
    const int left = DialogUnitsToPixelsX(r.x);
    const int top = DialogUnitsToPixelsY(r.y);
    return {left, top, DialogUnitsToPixelsX(r.x + r.width) - left, DialogUnitsToPixelsY(r.y + r.height) - top};
}

// A font's own base unit: the average width of the 52 letters A-Z a-z,
// rounded as Windows rounds it, and its line height plus the pixel of
// leading the reference unit has over the reference font's 15 px line. Never
// below the reference: the widgets' padding and frames do not shrink with
// the text, so smaller text keeps the reference layout.
struct BaseUnits {
    int x = kBaseUnitX;
    int y = kBaseUnitY;
};

constexpr BaseUnits BaseUnitsOfFont(int lettersWidth, int lineHeight) {
    const int x = (lettersWidth / 26 + 1) / 2;
    const int y = lineHeight + 1;
    return {x > kBaseUnitX ? x : kBaseUnitX, y > kBaseUnitY ? y : kBaseUnitY};
}

// Runtime pixels to the pixels of a font with base unit `font`, and back.
constexpr int ToFontPixelsX(int pixels, BaseUnits font) { return MulDiv(pixels, font.x, kBaseUnitX); }
constexpr int ToFontPixelsY(int pixels, BaseUnits font) { return MulDiv(pixels, font.y, kBaseUnitY); }
constexpr int FromFontPixelsX(int pixels, BaseUnits font) { return MulDiv(pixels, kBaseUnitX, font.x); }
constexpr int FromFontPixelsY(int pixels, BaseUnits font) { return MulDiv(pixels, kBaseUnitY, font.y); }

// Edges are mapped, as in MapDialogRect, so that adjacent controls stay adjacent.
constexpr PixelRect ToFontPixels(const PixelRect& r, BaseUnits font) {
    const int left = ToFontPixelsX(r.x, font);
    const int top = ToFontPixelsY(r.y, font);
    return {left, top, ToFontPixelsX(r.x + r.width, font) - left, ToFontPixelsY(r.y + r.height, font) - top};
}

}  // namespace zorbelu::platform

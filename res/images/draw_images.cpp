// Draws the dialog pictures of res/images/ and writes them as PNG files:
//
//   status_question.png  65 x 65  bitmap 1006, blue question mark
//   status_check.png     65 x 65  bitmap 1003, green check mark
//   status_cross.png     65 x 65  bitmap 1004, red cross
//   status_warning.png   65 x 65  bitmap 1005, yellow exclamation mark
//   logo.png             98 x 92  bitmap 6012, the logo
//
// Shapes are signed distance functions, sampled 4 x 4 per pixel. The PNG
// writer stores its zlib stream uncompressed (stored deflate blocks), so
// this needs nothing but the C++ library. The files are committed; run this
// only to redraw them:
//
//   c++ -std=c++17 -O2 -o draw_images res/images/draw_images.cpp && ./draw_images res/images
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Rgba {
    double r, g, b, a;
};

Rgba Over(const Rgba& top, const Rgba& bottom) {
    const double a = top.a + bottom.a * (1 - top.a);
    if (a <= 0) return {0, 0, 0, 0};
    auto mix = [&](double t, double u) { return (t * top.a + u * bottom.a * (1 - top.a)) / a; };
    return {mix(top.r, bottom.r), mix(top.g, bottom.g), mix(top.b, bottom.b), a};
}

// ---- Shapes: distance from a point, negative inside ----

double Disc(double x, double y, double cx, double cy, double r) { return std::hypot(x - cx, y - cy) - r; }

double Capsule(double x, double y, double ax, double ay, double bx, double by, double r) {
    const double px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
    const double t = std::clamp((px * dx + py * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(px - dx * t, py - dy * t) - r;
}

// A stroked arc around (cx, cy) of radius r from angle a0 to a1 (degrees,
// clockwise on screen from 3 o'clock), with round ends of radius w.
double Arc(double x, double y, double cx, double cy, double r, double a0, double a1, double w) {
    const double pi = 3.14159265358979323846;
    double angle = std::atan2(y - cy, x - cx) * 180 / pi;
    auto inside = [&](double a) {
        double from = a0, to = a1;
        while (a < from) a += 360;
        while (to < from) to += 360;
        return a <= to;
    };
    double best = 1e9;
    if (inside(angle)) best = std::fabs(std::hypot(x - cx, y - cy) - r) - w;
    for (double end : {a0, a1}) {
        const double ex = cx + r * std::cos(end * pi / 180), ey = cy + r * std::sin(end * pi / 180);
        best = std::min(best, std::hypot(x - ex, y - ey) - w);
    }
    return best;
}

double Triangle(double x, double y, double ax, double ay, double bx, double by, double qx, double qy) {
    // Exact distance to a triangle (Inigo Quilez's formulation).
    auto dot = [](double ux, double uy, double vx, double vy) { return ux * vx + uy * vy; };
    const double e0x = bx - ax, e0y = by - ay, e1x = qx - bx, e1y = qy - by, e2x = ax - qx, e2y = ay - qy;
    const double v0x = x - ax, v0y = y - ay, v1x = x - bx, v1y = y - by, v2x = x - qx, v2y = y - qy;
    auto clampT = [&](double px, double py, double ex, double ey) {
        return std::clamp(dot(px, py, ex, ey) / dot(ex, ey, ex, ey), 0.0, 1.0);
    };
    const double t0 = clampT(v0x, v0y, e0x, e0y), t1 = clampT(v1x, v1y, e1x, e1y), t2 = clampT(v2x, v2y, e2x, e2y);
    const double d0 = std::hypot(v0x - e0x * t0, v0y - e0y * t0);
    const double d1 = std::hypot(v1x - e1x * t1, v1y - e1y * t1);
    const double d2 = std::hypot(v2x - e2x * t2, v2y - e2y * t2);
    const double s = e0x * e2y - e0y * e2x;
    const bool in = (s * (v0x * e0y - v0y * e0x) <= 0) && (s * (v1x * e1y - v1y * e1x) <= 0) &&
                    (s * (v2x * e2y - v2y * e2x) <= 0);
    const double d = std::min({d0, d1, d2});
    return in ? -d : d;
}

// ---- A canvas painted layer by layer ----

using Shape = std::function<double(double, double)>;
using Paint = std::function<Rgba(double, double)>;

class Canvas {
public:
    Canvas(int w, int h) : w_(w), h_(h), pixels_(static_cast<size_t>(w * h), Rgba{0, 0, 0, 0}) {}

    // Paints `paint` where `shape` is negative, anti-aliased by coverage.
    void Fill(const Shape& shape, const Paint& paint) {
        constexpr int kSamples = 4;
        for (int py = 0; py < h_; ++py) {
            for (int px = 0; px < w_; ++px) {
                int covered = 0;
                for (int sy = 0; sy < kSamples; ++sy)
                    for (int sx = 0; sx < kSamples; ++sx)
                        if (shape(px + (sx + 0.5) / kSamples, py + (sy + 0.5) / kSamples) < 0) ++covered;
                if (covered == 0) continue;
                Rgba color = paint(px + 0.5, py + 0.5);
                color.a *= static_cast<double>(covered) / (kSamples * kSamples);
                Rgba& at = pixels_[static_cast<size_t>(py * w_ + px)];
                at = Over(color, at);
            }
        }
    }

    bool WritePng(const std::string& path) const;

private:
    int w_, h_;
    std::vector<Rgba> pixels_;
};

// ---- PNG: signature, IHDR, one IDAT of stored deflate blocks, IEND ----

uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
    Put32(png, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    png.insert(png.end(), typed.begin(), typed.end());
    Put32(png, Crc32(typed.data(), typed.size()));
}

bool Canvas::WritePng(const std::string& path) const {
    std::vector<uint8_t> raw;  // filter byte 0, then RGBA, per row
    for (int y = 0; y < h_; ++y) {
        raw.push_back(0);
        for (int x = 0; x < w_; ++x) {
            const Rgba& p = pixels_[static_cast<size_t>(y * w_ + x)];
            auto byte = [](double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
            raw.push_back(byte(p.r));
            raw.push_back(byte(p.g));
            raw.push_back(byte(p.b));
            raw.push_back(byte(p.a));
        }
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t at = 0; at < raw.size() || raw.empty(); at += 65535) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        z.push_back(at + n >= raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n & 0xFF));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n & 0xFF));
        z.push_back(static_cast<uint8_t>((~n >> 8) & 0xFF));
        z.insert(z.end(), raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + n));
        if (raw.empty()) break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    Put32(z, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Put32(header, static_cast<uint32_t>(w_));
    Put32(header, static_cast<uint32_t>(h_));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, deflate, no filter choice, no interlace
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && ok;
}

// ---- The pictures ----

Paint Solid(Rgba c) {
    return [c](double, double) { return c; };
}

// A ball lit from the upper left: `base` darkening toward the lower right.
Paint Ball(Rgba base, double cx, double cy, double r) {
    return [=](double x, double y) {
        const double d = std::hypot(x - (cx - r * 0.35), y - (cy - r * 0.4)) / (r * 1.6);
        const double light = std::clamp(1.25 - d * 0.6, 0.6, 1.25);
        return Rgba{std::min(1.0, base.r * light), std::min(1.0, base.g * light), std::min(1.0, base.b * light), 1};
    };
}

const Rgba kWhite{1, 1, 1, 1};
const Rgba kShadow{0, 0, 0, 0.22};

// The disc every status picture but the warning stands on.
void StatusDisc(Canvas& c, Rgba base, Rgba rim) {
    const double cx = 32.5, cy = 32.5;
    c.Fill([&](double x, double y) { return Disc(x, y, cx + 1.5, cy + 2, 29.5); }, Solid(kShadow));
    c.Fill([&](double x, double y) { return Disc(x, y, cx, cy, 29.5); }, Solid(rim));
    c.Fill([&](double x, double y) { return Disc(x, y, cx, cy, 27.5); }, Ball(base, cx, cy, 27.5));
}

bool DrawQuestion(const std::string& dir) {
    Canvas c(65, 65);
    StatusDisc(c, {0.16, 0.42, 0.86, 1}, {0.08, 0.22, 0.55, 1});
    c.Fill([](double x, double y) { return Arc(x, y, 32.5, 24.5, 9.5, 180, 60, 3.6); }, Solid(kWhite));
    c.Fill([](double x, double y) { return Capsule(x, y, 37.3, 32.7, 32.5, 37.5, 3.6); }, Solid(kWhite));
    c.Fill([](double x, double y) { return Capsule(x, y, 32.5, 37.5, 32.5, 40.0, 3.6); }, Solid(kWhite));
    c.Fill([](double x, double y) { return Disc(x, y, 32.5, 49.0, 4.2); }, Solid(kWhite));
    return c.WritePng(dir + "/status_question.png");
}

bool DrawCheck(const std::string& dir) {
    Canvas c(65, 65);
    StatusDisc(c, {0.20, 0.66, 0.22, 1}, {0.08, 0.40, 0.10, 1});
    c.Fill(
        [](double x, double y) {
            return std::min(Capsule(x, y, 18, 33, 28, 44, 4.2), Capsule(x, y, 28, 44, 47, 21, 4.2));
        },
        Solid(kWhite));
    return c.WritePng(dir + "/status_check.png");
}

bool DrawCross(const std::string& dir) {
    Canvas c(65, 65);
    StatusDisc(c, {0.86, 0.16, 0.14, 1}, {0.55, 0.06, 0.05, 1});
    c.Fill(
        [](double x, double y) {
            return std::min(Capsule(x, y, 21.5, 21.5, 43.5, 43.5, 4.3), Capsule(x, y, 43.5, 21.5, 21.5, 43.5, 4.3));
        },
        Solid(kWhite));
    return c.WritePng(dir + "/status_cross.png");
}

bool DrawWarning(const std::string& dir) {
    Canvas c(65, 65);
    auto triangle = [](double dx, double dy, double inset) {
        return [=](double x, double y) {
            return Triangle(x - dx, y - dy, 32.5, 8 + inset, 58 - inset * 0.9, 54 - inset * 0.5, 7 + inset * 0.9,
                            54 - inset * 0.5) -
                   3.5;
        };
    };
    c.Fill(triangle(1.5, 2, 0), Solid(kShadow));
    c.Fill(triangle(0, 0, 0), Solid({0.55, 0.42, 0.02, 1}));
    c.Fill(triangle(0, 0, 2.5), Ball({0.98, 0.80, 0.12, 1}, 32.5, 36, 24));
    const Rgba ink{0.15, 0.12, 0.05, 1};
    c.Fill([](double x, double y) { return Capsule(x, y, 32.5, 22, 32.5, 38, 3.4); }, Solid(ink));
    c.Fill([](double x, double y) { return Disc(x, y, 32.5, 46.5, 3.6); }, Solid(ink));
    return c.WritePng(dir + "/status_warning.png");
}

bool DrawLogo(const std::string& dir) {
    Canvas c(98, 92);
    const double cx = 49, cy = 44, r = 36;
    const Rgba navy{0.09, 0.18, 0.38, 1};
    const Rgba gold{0.88, 0.66, 0.16, 1};
    // The seal's ribbon behind the dial.
    c.Fill(
        [&](double x, double y) {
            return std::min(Capsule(x, y, 41, 70, 34, 86, 5), Capsule(x, y, 57, 70, 64, 86, 5));
        },
        Solid(navy));
    c.Fill([&](double x, double y) { return Disc(x, y, cx + 1.5, cy + 2, r); }, Solid(kShadow));
    c.Fill([&](double x, double y) { return Disc(x, y, cx, cy, r); }, Solid(navy));
    c.Fill([&](double x, double y) { return Disc(x, y, cx, cy, r - 4); }, Solid(gold));
    c.Fill([&](double x, double y) { return Disc(x, y, cx, cy, r - 6.5); }, Ball({0.97, 0.97, 0.95, 1}, cx, cy, r));
    // Twelve ticks, the quarters longer.
    for (int i = 0; i < 12; ++i) {
        const double a = i * 3.14159265358979323846 / 6;
        const double outer = r - 10, inner = i % 3 == 0 ? r - 17 : r - 13;
        c.Fill(
            [&](double x, double y) {
                return Capsule(x, y, cx + inner * std::cos(a), cy + inner * std::sin(a), cx + outer * std::cos(a),
                               cy + outer * std::sin(a), i % 3 == 0 ? 1.6 : 1.0);
            },
            Solid(navy));
    }
    // Hands at ten past ten, and the hub.
    c.Fill([&](double x, double y) { return Capsule(x, y, cx, cy, cx - 11, cy - 7, 2.2); }, Solid(navy));
    c.Fill([&](double x, double y) { return Capsule(x, y, cx, cy, cx + 14, cy - 15, 1.6); }, Solid(navy));
    c.Fill([&](double x, double y) { return Disc(x, y, cx, cy, 3.2); }, Solid(gold));
    return c.WritePng(dir + "/logo.png");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    const bool ok = DrawQuestion(dir) && DrawCheck(dir) && DrawCross(dir) && DrawWarning(dir) && DrawLogo(dir);
    if (!ok) std::fprintf(stderr, "draw_images: cannot write to %s\n", dir.c_str());
    return ok ? 0 : 1;
}

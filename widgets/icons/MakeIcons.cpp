// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the two icons of the settings buttons, 16 by 16 and 32 by 32 for screens with two
// device pixels to a pixel, and the application's icon, and writes them as PNG files:
//   make_icons <directory>        writes <directory>/btnRead.png, btnWrite.png,
//                                 btnRead@2x.png and btnWrite@2x.png
//   make_icons --app <directory>  writes <directory>/<N>x<N>/apps/zub3-manager.png for the
//                                 sizes of the desktop's icon theme
// Shapes are described in their own units (pixels of the 16 by 16 buttons, a 256 by 256 grid
// for the application's icon) and sampled 8 by 8 times a pixel, which gives the soft, partly
// transparent edges. Run it by hand when the pictures change and commit its output.

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int subsamples = 8;

struct Color {
    double r, g, b, a;
};

struct Vec {
    double x, y;
};

Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y}; }
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y}; }
Vec operator*(double k, Vec a) { return {k * a.x, k * a.y}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y; }
double length(Vec a) { return std::sqrt(dot(a, a)); }

Color mix(Color a, Color b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
            a.a + (b.a - a.a) * t};
}

double distanceToSegment(Vec p, Vec a, Vec b)
{
    const Vec ab = b - a;
    const double t = std::clamp(dot(p - a, ab) / dot(ab, ab), 0.0, 1.0);
    return length(p - (a + t * ab));
}

// A layer gives the colour it puts at a point, alpha 0 where it has nothing.
using Layer = std::function<Color(Vec)>;

constexpr Color none{0, 0, 0, 0};

// Layers composed back to front at each sample, then averaged over the pixel with
// premultiplied colour. The picture spans `units` of its own units on a side.
std::vector<unsigned char> render(const std::vector<Layer>& layers, int size, double units)
{
    const double scale = units / size;
    std::vector<unsigned char> rgba(static_cast<std::size_t>(size * size * 4));
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < subsamples; ++sy) {
                for (int sx = 0; sx < subsamples; ++sx) {
                    const Vec p{(px + (sx + 0.5) / subsamples) * scale,
                                (py + (sy + 0.5) / subsamples) * scale};
                    double cr = 0, cg = 0, cb = 0, ca = 0;  // premultiplied
                    for (const Layer& layer : layers) {
                        const Color c = layer(p);
                        cr = c.r * c.a + cr * (1 - c.a);
                        cg = c.g * c.a + cg * (1 - c.a);
                        cb = c.b * c.a + cb * (1 - c.a);
                        ca = c.a + ca * (1 - c.a);
                    }
                    r += cr;
                    g += cg;
                    b += cb;
                    a += ca;
                }
            }
            const double n = subsamples * subsamples;
            unsigned char* out = &rgba[static_cast<std::size_t>((py * size + px) * 4)];
            const auto channel = [a](double premultiplied) {
                return static_cast<unsigned char>(
                    a > 0 ? std::lround(std::clamp(premultiplied / a, 0.0, 1.0) * 255) : 0);
            };
            out[0] = channel(r);
            out[1] = channel(g);
            out[2] = channel(b);
            out[3] = static_cast<unsigned char>(std::lround(a / n * 255));
        }
    }
    return rgba;
}

Color rgb(int r, int g, int b, double a = 1.0)
{
    return {r / 255.0, g / 255.0, b / 255.0, a};
}

// The button icons are described on the 16 by 16 grid of the small ones; the large ones
// are drawn for their own size: outlines, rims and glints keep to whole pixels of their
// finer grid instead of growing with it.
struct Strokes {
    double handleOutline;  // the handle's radius with its dark outline
    double neck;
    double rimInner;
    double glint;
    double pencilOutline;
};

constexpr Strokes smallStrokes{2.0, 1.15, 3.7, 0.55, 0.55};
constexpr Strokes largeStrokes{1.85, 1.0, 3.9, 0.4, 0.4};

// A magnifying glass: a light-blue lens in a dark rim at the upper right, an orange handle
// towards the lower left.
std::vector<Layer> magnifyingGlass(const Strokes& strokes)
{
    const Vec centre{10.2, 5.8};
    const double rimOuter = 5.1;
    const double rimInner = strokes.rimInner;
    const Vec neckFrom{6.9, 9.1};
    const Vec handleFrom{5.6, 10.4};
    const Vec handleTo{2.2, 13.8};
    return {
        // handle, darker outline first
        [=](Vec p) {
            return distanceToSegment(p, handleFrom, handleTo) <= strokes.handleOutline
                       ? rgb(150, 70, 10)
                       : none;
        },
        [=](Vec p) {
            if (distanceToSegment(p, handleFrom, handleTo) > 1.35)
                return none;
            // lighter on the side that faces the upper left
            const double side = dot(p - handleTo, Vec{-0.707, -0.707}) - dot(handleFrom - handleTo, Vec{-0.707, -0.707}) / 2;
            return mix(rgb(235, 120, 20), rgb(255, 190, 90), std::clamp(side, 0.0, 1.0));
        },
        // the metal neck between handle and rim
        [=](Vec p) {
            return distanceToSegment(p, neckFrom, handleFrom) <= strokes.neck ? rgb(70, 80, 95)
                                                                              : none;
        },
        // glass: light blue, slightly see-through, brighter towards the upper left
        [=](Vec p) {
            const double d = length(p - centre);
            if (d > rimInner + 0.2)
                return none;
            const double light = std::clamp(length(p - Vec{8.8, 4.4}) / (2 * rimInner), 0.0, 1.0);
            return mix(rgb(215, 240, 255, 0.85), rgb(100, 170, 235, 0.8), light);
        },
        // a glint on the glass
        [=](Vec p) {
            return distanceToSegment(p, Vec{8.3, 4.9}, Vec{9.3, 3.9}) <= strokes.glint
                       ? rgb(255, 255, 255, 0.9)
                       : none;
        },
        // rim
        [=](Vec p) {
            const double d = length(p - centre);
            if (d > rimOuter || d < rimInner)
                return none;
            const double edge = std::abs(d - (rimOuter + rimInner) / 2) / ((rimOuter - rimInner) / 2);
            return mix(rgb(70, 110, 160), rgb(30, 50, 85), edge);
        },
    };
}

// A red pencil pointing to the lower left, writing a blue stroke.
std::vector<Layer> pencil(const Strokes& strokes)
{
    const Vec tip{1.9, 14.1};
    const Vec back{14.5, 1.5};
    const Vec along = (1.0 / length(back - tip)) * (back - tip);
    const Vec across{-along.y, along.x};
    const double total = length(back - tip);
    const double halfWidth = 2.2;
    const double cone = 4.2;
    const double lead = 1.6;
    const double eraser = 2.2;

    // t runs from the tip along the pencil, s across it; the cone narrows to the tip.
    const auto inside = [=](Vec p, double grow) {
        const double t = dot(p - tip, along);
        const double s = dot(p - tip, across);
        if (t < -grow || t > total + grow)
            return false;
        const double half = t < cone ? halfWidth * std::max(t, 0.0) / cone : halfWidth;
        return std::abs(s) <= half + grow;
    };
    return {
        // the stroke it has written
        [=](Vec p) {
            const double d = distanceToSegment(p, Vec{2.0, 14.6}, Vec{11.5, 14.6});
            return d <= 1.0 ? rgb(35, 95, 215) : none;
        },
        [=](Vec p) { return inside(p, strokes.pencilOutline) ? rgb(95, 20, 20) : none; },
        [=](Vec p) {
            if (!inside(p, 0))
                return none;
            const double t = dot(p - tip, along);
            const double s = dot(p - tip, across);
            if (t < lead)
                return rgb(50, 50, 55);
            if (t < cone)
                return mix(rgb(240, 205, 150), rgb(215, 170, 110), std::clamp(s / halfWidth + 0.5, 0.0, 1.0));
            if (t > total - eraser)
                return rgb(245, 160, 170);
            if (t > total - eraser - 1.0)
                return rgb(185, 185, 195);
            // three faces of the body: light, middle, shadow
            if (s < -0.75)
                return rgb(250, 110, 95);
            if (s <= 0.75)
                return rgb(225, 40, 35);
            return rgb(165, 20, 25);
        },
    };
}

// The application's icon: the hand-held controller seen from above, on a 256 by 256 grid:
// a dark body with two grips, the direction pad on the left, the four symbol buttons on the
// right, two small buttons between them and the red lamp of the radio link on top.
std::vector<Layer> controller()
{
    const Vec leftGrip{64, 178};
    const Vec rightGrip{192, 178};
    const Vec leftCentre{78, 100};
    const Vec rightCentre{178, 100};
    // the body: a wide capsule with a grip hanging down at each end
    const auto body = [=](Vec p, double grow) {
        return distanceToSegment(p, leftCentre, rightCentre) <= 56 + grow ||
               distanceToSegment(p, leftCentre, leftGrip) <= 36 + grow ||
               distanceToSegment(p, rightCentre, rightGrip) <= 36 + grow;
    };
    const auto disc = [](Vec centre, double radius, Color fill, Color rim) -> Layer {
        return [=](Vec p) {
            const double d = length(p - centre);
            if (d > radius)
                return none;
            return d > radius - 4 ? rim : fill;
        };
    };
    const Vec pad{78, 100};
    const Vec symbols{178, 100};
    const double spread = 27;
    return {
        [=](Vec p) { return body(p, 7) ? rgb(25, 30, 40) : none; },
        // lighter towards the top, as if lit from above
        [=](Vec p) {
            return body(p, 0) ? mix(rgb(120, 135, 160), rgb(60, 70, 90), std::clamp((p.y - 40) / 160, 0.0, 1.0))
                              : none;
        },
        // the direction pad: a cross in a shallow well
        disc(pad, 40, rgb(80, 90, 110), rgb(70, 80, 100)),
        [=](Vec p) {
            const Vec d = p - pad;
            const bool arm = (std::abs(d.x) <= 11 && std::abs(d.y) <= 32) ||
                             (std::abs(d.y) <= 11 && std::abs(d.x) <= 32);
            return arm ? rgb(30, 32, 38) : none;
        },
        disc(symbols + Vec{0, -spread}, 14, rgb(70, 200, 120), rgb(30, 110, 60)),  // triangle
        disc(symbols + Vec{spread, 0}, 14, rgb(240, 80, 80), rgb(140, 30, 30)),    // circle
        disc(symbols + Vec{0, spread}, 14, rgb(90, 150, 245), rgb(35, 70, 150)),   // cross
        disc(symbols + Vec{-spread, 0}, 14, rgb(235, 120, 220), rgb(135, 50, 125)),  // square
        // two small buttons between the pads
        [=](Vec p) {
            return distanceToSegment(p, Vec{110, 122}, Vec{118, 122}) <= 6 ||
                           distanceToSegment(p, Vec{138, 122}, Vec{146, 122}) <= 6
                       ? rgb(30, 32, 38)
                       : none;
        },
        // the lamp, with a glint
        disc(Vec{128, 64}, 11, rgb(255, 60, 50), rgb(150, 20, 20)),
        disc(Vec{125, 61}, 4, rgb(255, 200, 190), rgb(255, 200, 190)),
    };
}

// libpng reports errors by longjmp: this function holds only trivially destructible locals.
bool writePng(const char* path, const unsigned char* rgba, int size)
{
    std::FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    volatile bool written = false;
    if (info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, file);
        png_set_compression_level(png, 9);
        png_set_IHDR(png, info, size, size, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_pHYs(png, info, 3780, 3780, PNG_RESOLUTION_METER);  // 96 dpi
        png_write_info(png, info);
        for (int y = 0; y < size; ++y)
            png_write_row(png, rgba + static_cast<std::size_t>(y * size * 4));
        png_write_end(png, nullptr);
        written = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool app = argc == 3 && std::string(argv[1]) == "--app";
    if (argc != 2 && !app) {
        std::fprintf(stderr, "usage: make_icons <directory>\n       make_icons --app <directory>\n");
        return 2;
    }
    const std::string directory = argv[argc - 1];
    struct Picture {
        std::string path;
        int size;
        double units;
        std::vector<Layer> layers;
    };
    std::vector<Picture> pictures;
    if (app) {
        for (const int size : {16, 32, 48, 64, 128, 256}) {
            const std::string dir = directory + "/" + std::to_string(size) + "x" + std::to_string(size) + "/apps";
            std::error_code ignored;  // a directory that cannot be made fails the write below
            std::filesystem::create_directories(dir, ignored);
            pictures.push_back({dir + "/zub3-manager.png", size, 256, controller()});
        }
    } else {
        pictures.push_back({directory + "/btnRead.png", 16, 16, magnifyingGlass(smallStrokes)});
        pictures.push_back({directory + "/btnWrite.png", 16, 16, pencil(smallStrokes)});
        pictures.push_back({directory + "/btnRead@2x.png", 32, 16, magnifyingGlass(largeStrokes)});
        pictures.push_back({directory + "/btnWrite@2x.png", 32, 16, pencil(largeStrokes)});
    }
    for (const Picture& picture : pictures) {
        const std::vector<unsigned char> rgba = render(picture.layers, picture.size, picture.units);
        if (!writePng(picture.path.c_str(), rgba.data(), picture.size)) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", picture.path.c_str());
            return 1;
        }
    }
    return 0;
}

#pragma once
// Geometry of the screens is written in twips; the display runs at 96 dpi.
namespace brevik {
inline constexpr int kTwipsPerPixel = 15;
// Twips to whole pixels, rounded to the nearest like the form engine it replaces.
constexpr int px(int twips) {
    return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                      : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}
constexpr int twips(int pixels) {
    return pixels * kTwipsPerPixel;
}
} // namespace brevik

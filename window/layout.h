// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <array>
#include <string_view>

// Where every visible control sits, in twips (1/1440 inch) relative to its container: the window's
// client area for the frames, the frame's outer rectangle for the controls inside it.
struct ControlPlace
{
    std::string_view name;
    std::string_view container; // empty: the window itself
    int left;
    int top;
    int width;
    int height;
};

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidthTwips = 8970;
inline constexpr int kClientHeightTwips = 5730;

inline constexpr std::array<ControlPlace, 35> kLayout { {
    { "Frame3", "", 360, 120, 2175, 2655 },
    { "Frame4", "", 2640, 120, 1455, 2655 },
    { "Frame2", "", 360, 2880, 3735, 2775 },
    { "Frame1", "", 4320, 120, 4575, 5535 },
    { "Label3", "Frame3", 120, 360, 495, 255 },
    { "Combo1", "Frame3", 840, 360, 1095, 300 },
    { "Label4", "Frame3", 120, 840, 615, 255 },
    { "Combo2", "Frame3", 840, 840, 1095, 300 },
    { "Label5", "Frame3", 120, 1320, 615, 255 },
    { "Combo3", "Frame3", 840, 1320, 1095, 300 },
    { "Label6", "Frame3", 120, 1800, 615, 255 },
    { "Combo4", "Frame3", 840, 1800, 1095, 300 },
    { "Label7", "Frame3", 120, 2280, 615, 255 },
    { "Combo5", "Frame3", 840, 2280, 1095, 300 },
    { "Command5", "Frame4", 120, 360, 975, 375 },
    { "Shape1", "Frame4", 1200, 480, 255, 150 },
    { "Label8", "Frame4", 120, 960, 375, 255 },
    { "Label10", "Frame4", 600, 960, 735, 255 },
    { "Label9", "Frame4", 120, 1440, 375, 255 },
    { "Label11", "Frame4", 600, 1440, 735, 255 },
    { "Command8", "Frame4", 120, 2040, 975, 375 },
    { "Text2", "Frame2", 120, 240, 3495, 735 },
    { "Option5", "Frame2", 360, 1080, 1575, 255 },
    { "Command4", "Frame2", 2040, 1080, 1575, 375 },
    { "Option3", "Frame2", 360, 1440, 1695, 255 },
    { "Command6", "Frame2", 360, 1800, 1575, 375 },
    { "Command7", "Frame2", 2040, 1800, 1575, 375 },
    { "Label1", "Frame2", 480, 2400, 1215, 255 },
    { "Text3", "Frame2", 1440, 2370, 975, 270 },
    { "Label2", "Frame2", 2640, 2400, 855, 255 },
    { "Text1", "Frame1", 120, 240, 4335, 3735 },
    { "Option1", "Frame1", 480, 4200, 1695, 255 },
    { "Option2", "Frame1", 2400, 4200, 1695, 255 },
    { "Command3", "Frame1", 480, 4800, 1095, 375 },
    { "Command1", "Frame1", 2160, 4800, 1335, 375 },
} };

// Controls by tab index 0 to 33 (the shape has none).
inline constexpr std::array<std::string_view, 34> kTabOrder { {
    "Frame1",
    "Option1",
    "Option2",
    "Command3",
    "Frame2",
    "Text2",
    "Option5",
    "Option3",
    "Command4",
    "Label1",
    "Label2",
    "Text3",
    "Command6",
    "Command7",
    "Text1",
    "Frame3",
    "Combo5",
    "Combo4",
    "Combo3",
    "Combo2",
    "Combo1",
    "Label7",
    "Label6",
    "Label5",
    "Label4",
    "Label3",
    "Frame4",
    "Command8",
    "Command5",
    "Label11",
    "Label10",
    "Label9",
    "Label8",
    "Command1",
} };

inline QRect twipsToPixels(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>

// The window's font, which its children take on: one that shows Chinese characters, at the 9 points the sizes
// of the controls are laid out for. Tests and benchmarks of a single control use it to measure what the window
// shows.
inline QFont windowFont()
{
    QFont font;
    font.setFamilies({ QStringLiteral("WenQuanYi Micro Hei Mono"), QStringLiteral("WenQuanYi Micro Hei"),
        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Sans Serif") });
    font.setPointSize(9);
    return font;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/vport/options.h"

#include <QStringList>

std::optional<VportOptions> parseVportOptions(const QStringList &args, QString &error)
{
    VportOptions options;
    bool random = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--quiet")) {
            options.periodicLine = false;
        } else if (arg == QLatin1String("--random")) {
            random = true;
        } else if (arg == QLatin1String("--hardware")) {
            options.listHardware = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.help = true;
        } else if (arg == QLatin1String("--flood")) {
            if (i + 1 == args.size()) {
                error = QStringLiteral("--flood needs a rate in bytes per second");
                return std::nullopt;
            }
            bool ok = false;
            const long long rate = args[++i].toLongLong(&ok);
            // Above 100 MB/s no pty keeps up; the cap keeps the pacing arithmetic far from overflow.
            if (!ok || rate <= 0 || rate > 100'000'000) {
                error = QStringLiteral("--flood needs a rate from 1 to 100000000 bytes per second, not \"%1\"")
                            .arg(args[i]);
                return std::nullopt;
            }
            options.floodRate = rate;
        } else {
            error = QStringLiteral("unknown option \"%1\"").arg(arg);
            return std::nullopt;
        }
    }
    if (random && options.floodRate == 0) {
        error = QStringLiteral("--random goes with --flood");
        return std::nullopt;
    }
    if (options.floodRate > 0) {
        options.flood = random ? VportOptions::Flood::Random : VportOptions::Flood::Text;
        // A line dropped into the middle of the flood would break the flood's own lines apart.
        options.periodicLine = false;
    }
    return options;
}

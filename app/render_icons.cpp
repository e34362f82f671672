// Writes the program icon as PNG files in the freedesktop icon theme layout, for the
// desktop entry: <directory>/<n>x<n>/apps/fieldkit.png for each size n given.

#include "app/artwork.h"

#include <QDir>
#include <QString>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DIRECTORY SIZE...\n", argv[0]);
        return 2;
    }
    const QString directory = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        bool isNumber = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&isNumber);
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(directory).arg(size);
        if (!isNumber || size <= 0 || !QDir().mkpath(folder) ||
            !fieldkit::app::programIconImage(size).save(folder + QStringLiteral("/fieldkit.png"))) {
            std::fprintf(stderr, "cannot write a %s pixel icon under %s\n", argv[i], argv[1]);
            return 1;
        }
    }
    return 0;
}

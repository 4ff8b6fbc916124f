// velkora-icons: writes the program's icons as PNG files, for the desktop's icon theme and
// for looking at them.
//   velkora-icons THEME_DIR         THEME_DIR/hicolor/<n>x<n>/apps/velkora-certmgr.png
//   velkora-icons --all DIR         DIR/icon-<id>-<n>.png for every icon resource and size

#include "res/IconPainter.h"
#include "res/Resource.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kThemeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

bool Write(const QImage& image, const QString& path) {
    if (image.isNull() || !QDir().mkpath(QFileInfo(path).path()) || !image.save(path, "PNG")) {
        std::fprintf(stderr, "velkora-icons: cannot write %s\n", path.toLocal8Bit().constData());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const bool all = argc == 3 && std::strcmp(argv[1], "--all") == 0;
    if (!all && (argc != 2 || argv[1][0] == '-')) {
        std::fputs("usage: velkora-icons THEME_DIR\n       velkora-icons --all DIR\n", stderr);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[argc - 1]);
    bool ok = true;
    if (all) {
        for (unsigned id = 0; id <= IDI_NOCERT; ++id) {
            if (!IsIconResource(id)) {
                continue;
            }
            for (const int size : kThemeSizes) {
                ok = Write(RenderIconResource(id, size),
                           QStringLiteral("%1/icon-%2-%3.png").arg(dir).arg(id).arg(size)) &&
                     ok;
            }
        }
        return ok ? 0 : 1;
    }
    for (const int size : kThemeSizes) {
        ok =
            Write(RenderIconResource(IDR_MAINFRAME, size),
                  QStringLiteral("%1/hicolor/%2x%2/apps/velkora-certmgr.png").arg(dir).arg(size)) &&
            ok;
    }
    return ok ? 0 : 1;
}

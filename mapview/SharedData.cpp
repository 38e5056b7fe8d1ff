#include "mapview/SharedData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef VELMORA_BUILD_SHARE_DIR
#error "VELMORA_BUILD_SHARE_DIR names the build tree's share/velmora"
#endif

namespace velmora {

QString SharedData::besideExecutable(const QString& executable) {
    const QFileInfo program(executable);
    if (executable.isEmpty() || !program.exists()) {
        return QString();
    }
    const QString real = program.canonicalFilePath();
    const QDir bin = QFileInfo(real.isEmpty() ? executable : real).absoluteDir();
    const QString candidate = QDir::cleanPath(bin.absoluteFilePath(QStringLiteral("../share/velmora")));
    return QFileInfo(candidate).isDir() ? candidate : QString();
}

const QString& SharedData::getDirectory() {
    static const QString directory = [] {
        // /proc/self/exe rather than QCoreApplication: it is known before
        // the application object exists, and names the real file.
        const QString beside = besideExecutable(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
        return beside.isEmpty() ? QDir::cleanPath(QStringLiteral(VELMORA_BUILD_SHARE_DIR)) : beside;
    }();
    return directory;
}

QString SharedData::path(const QString& relative) {
    return getDirectory() + QLatin1Char('/') + relative;
}

} // namespace velmora

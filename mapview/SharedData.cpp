#include "mapview/SharedData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef VELMORA_BUILD_SHARE_DIR
#error "VELMORA_BUILD_SHARE_DIR names the build tree's share/velmora"
#endif
#ifndef VELMORA_BUILD_DIR
#error "VELMORA_BUILD_DIR names the build tree"
#endif
#ifndef VELMORA_INSTALL_SHARE_DIR
#error "VELMORA_INSTALL_SHARE_DIR names the installed share/velmora"
#endif

namespace velmora {

namespace {

QString realPath(const QString& path) {
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : real;
}

} // namespace

QString SharedData::besideExecutable(const QString& executable) {
    const QFileInfo program(executable);
    if (executable.isEmpty() || !program.exists()) {
        return QString();
    }
    const QDir bin = QFileInfo(realPath(executable)).absoluteDir();
    const QString candidate = QDir::cleanPath(bin.absoluteFilePath(QStringLiteral("../share/velmora")));
    return QFileInfo(candidate).isDir() ? candidate : QString();
}

bool SharedData::inBuildTree(const QString& executable, const QString& buildDirectory) {
    if (executable.isEmpty() || buildDirectory.isEmpty()) {
        return false;
    }
    const QString build = realPath(buildDirectory);
    return realPath(executable).startsWith(build + QLatin1Char('/'));
}

QString SharedData::forExecutable(const QString& executable) {
    const QString beside = besideExecutable(executable);
    if (!beside.isEmpty()) {
        return beside;
    }
    // The build tree's data only for the build tree's programs: a copy
    // installed elsewhere must never read a build folder that may be gone
    // or, worse, belong to someone else by now.
    if (inBuildTree(executable, QStringLiteral(VELMORA_BUILD_DIR))) {
        return QDir::cleanPath(QStringLiteral(VELMORA_BUILD_SHARE_DIR));
    }
    return QDir::cleanPath(QStringLiteral(VELMORA_INSTALL_SHARE_DIR));
}

const QString& SharedData::getDirectory() {
    // /proc/self/exe rather than QCoreApplication: it is known before the
    // application object exists, and names the real file.
    static const QString directory = forExecutable(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
    return directory;
}

QString SharedData::path(const QString& relative) {
    return getDirectory() + QLatin1Char('/') + relative;
}

} // namespace velmora

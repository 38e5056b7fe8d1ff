// velmora-svgrender INPUT.svg OUTPUT.png WIDTH HEIGHT
//
// Renders an SVG into a transparent ARGB PNG of exactly WIDTH x HEIGHT pixels.
// The build calls it once per page image, so it is strict on purpose: any
// warning from the SVG reader (an element or attribute it cannot draw), a
// size outside 1..4096 or an aspect ratio that differs from the drawing's
// view box fails the build instead of shipping a picture that silently lacks
// parts or is stretched. The output is replaced atomically, so an interrupted
// build never leaves a truncated PNG behind.

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kMaxSide = 4096;

int g_svgWarnings = 0;
QtMessageHandler g_previousHandler = nullptr;

// Only the SVG reader's complaints count, and only they and real errors are
// shown: the offscreen platform's remarks (a missing runtime folder) would
// otherwise repeat for every picture of the build without affecting any.
void countingHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const bool fromSvgReader = context.category != nullptr && qstrncmp(context.category, "qt.svg", 6) == 0;
    if (fromSvgReader && type != QtDebugMsg && type != QtInfoMsg)
        ++g_svgWarnings;
    if ((fromSvgReader || type == QtCriticalMsg || type == QtFatalMsg) && g_previousHandler != nullptr)
        g_previousHandler(type, context, message);
}

bool parseSide(const char* text, int& value)
{
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 1 || parsed > kMaxSide)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "velmora-svgrender: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 5)
        return fail("usage: velmora-svgrender INPUT.svg OUTPUT.png WIDTH HEIGHT");
    const QString input = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    int width = 0;
    int height = 0;
    if (!parseSide(argv[3], width) || !parseSide(argv[4], height))
        return fail("WIDTH and HEIGHT must be whole numbers from 1 to " + std::to_string(kMaxSide));

    // Text in a drawing needs the font database, which needs a GUI
    // application; the offscreen platform keeps the build free of any display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_previousHandler = qInstallMessageHandler(countingHandler);
    QGuiApplication app(argc, argv);

    QSvgRenderer renderer(input);
    if (!renderer.isValid())
        return fail("cannot read " + input.toStdString());

    const QRectF box = renderer.viewBoxF();
    if (box.width() <= 0 || box.height() <= 0)
        return fail(input.toStdString() + " has no view box");
    const double drawnRatio = box.width() / box.height();
    const double wantedRatio = static_cast<double>(width) / height;
    if (std::fabs(drawnRatio - wantedRatio) > 0.01 * wantedRatio)
        return fail(input.toStdString() + ": view box " + std::to_string(box.width()) + "x" +
                    std::to_string(box.height()) + " does not match " + std::to_string(width) + "x" +
                    std::to_string(height));

    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(0, 0, width, height));
    }
    if (g_svgWarnings != 0)
        return fail(input.toStdString() + " uses SVG features that cannot be drawn (see the warnings above)");

    if (!QDir().mkpath(QFileInfo(output).absolutePath()))
        return fail("cannot create the folder of " + output.toStdString());
    QSaveFile file(output);
    if (!file.open(QIODevice::WriteOnly))
        return fail("cannot write " + output.toStdString() + ": " + file.errorString().toStdString());
    if (!image.convertToFormat(QImage::Format_ARGB32).save(&file, "PNG") || !file.commit())
        return fail("cannot write " + output.toStdString() + ": " + file.errorString().toStdString());
    return 0;
}

// mapzip preview: a picture of the map as the game shows it, seen whole.

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/PictureLibrary.h"

#include "package/Delivery.h"
#include "package/Staging.h"
#include "platform/Platform.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {

const char PreviewHelp[] =
    "Usage: mapzip preview MAP -o OUT.png [--width N]\n"
    "Draws the map as the game shows it, seen whole, into a PNG picture: the background's\n"
    "gradient, the polygons with the map's texture and their corners' colours, and the props\n"
    "with their scenery images, found in the game folder around the map as the game finds\n"
    "them. A prop whose image the game would not find is a red box of the prop's size.\n"
    "\n"
    "  -o, --output OUT.png  the picture to write. A file there is replaced; a folder,\n"
    "                        symbolic link, device, FIFO or socket there is refused, and so\n"
    "                        is the map or any image of it (texture, edge texture,\n"
    "                        sceneries)\n"
    "  --width N             its width in pixels, 16 to 8192 (default 1024); the height\n"
    "                        follows the map's shape (at most 8192)\n"
    "  -h, --help            this text\n"
    "\n"
    "What the picture cannot show as the game would (no game folder around the map, a\n"
    "texture or scenery image the game would not find or that cannot be read, props that\n"
    "show a scenery the map names no image for, a map too large to draw whole) is named on\n"
    "standard error, one 'mapzip preview: warning: ...' line each.\n"
    "\n"
    "Exit status: 0 the picture was written; 1 it was not (nothing is written); 2 bad usage;\n"
    "130, 143 or 129 stopped by an interrupt, termination or hang-up (nothing is written).\n";

const QString Prefix = QStringLiteral("mapzip preview: ");
constexpr int DefaultWidth = 1024;
constexpr int MinWidth = 16;

int usageError(const QString &problem) {
    printErr(Prefix + problem + QStringLiteral("\n\n") + QLatin1String(PreviewHelp));
    return ExitStatus::Usage;
}

int failed(const QString &why) {
    printErr(Prefix + escapeControls(why) + QLatin1Char('\n'));
    return ExitStatus::Failed;
}

} // namespace

int runPreview(const QStringList &args) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption outputOption(
        QStringList{QStringLiteral("o"), QStringLiteral("output")}, QString(),
        QStringLiteral("OUT"));
    const QCommandLineOption widthOption(QStringLiteral("width"), QString(), QStringLiteral("N"));
    parser.addOptions({helpOption, outputOption, widthOption});
    if (!parser.parse(QStringList{QStringLiteral("preview")} + args))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        printOut(QLatin1String(PreviewHelp));
        return ExitStatus::Ok;
    }
    const QStringList maps = parser.positionalArguments();
    if (maps.size() != 1)
        return usageError(maps.isEmpty() ? QStringLiteral("no map given")
                                         : QStringLiteral("one map at a time"));
    if (!parser.isSet(outputOption) || parser.value(outputOption).isEmpty())
        return usageError(QStringLiteral("no picture named: -o OUT.png"));
    int width = DefaultWidth;
    if (parser.isSet(widthOption)) {
        bool number = false;
        width = parser.value(widthOption).toInt(&number);
        if (!number || width < MinWidth || width > LargestPictureEdge)
            return usageError(QStringLiteral("--width must be a whole number from %1 to %2")
                                  .arg(MinWidth)
                                  .arg(LargestPictureEdge));
    }
    QString error;
    const std::unique_ptr<MapPictureMaker> maker = MapPictureMaker::create(error);
    if (!maker)
        return failed(error);
    const QString map = QFileInfo(maps.first()).absoluteFilePath();
    const QString output = QFileInfo(parser.value(outputOption)).absoluteFilePath();

    // Checked before the map is read, so that a wrong -o is told at once, again once the files
    // the picture may be made from are known, and before the picture is put in place.
    auto refusedTarget = [&](const QStringList &inputs) {
        if (checkDeliveryTarget(output, inputs, error, QStringLiteral("the picture")))
            return false;
        failed(QStringLiteral("the picture cannot be saved to %1, as it %2")
                   .arg(parser.value(outputOption), error));
        return true;
    };
    if (refusedTarget({map}))
        return ExitStatus::Failed;
    if (!maker->read(map, error))
        return failed(error);
    if (refusedTarget(QStringList{map} + maker->imageFiles()))
        return ExitStatus::Failed;
    maker->draw(width);
    for (const QString &problem : maker->problems())
        printErr(Prefix + QStringLiteral("warning: ") + escapeControls(problem) +
                 QLatin1Char('\n'));
    if (!maker->drawn())
        return failed(QStringLiteral("there is not enough memory for a picture of %1 x %2 pixels")
                          .arg(maker->size().width())
                          .arg(maker->size().height()));

    // Written whole beside the staging of a build, then put in place in one step: a full
    // disk or a kill never leaves half a picture at the target.
    if (refusedTarget(QStringList{map} + maker->imageFiles()))
        return ExitStatus::Failed;
    PrivateStagingFolder::removeAbandoned();
    PrivateStagingFolder staging(PreviewStagingPrefix);
    if (!staging.isValid())
        return failed(
            QStringLiteral("cannot create a temporary folder: %1").arg(staging.errorString()));
    platform::catchInterrupts();
    const QString staged = staging.path() + QStringLiteral("/preview.png");
    QByteArray sha1;
    if (!maker->writePng(staged, error))
        return failed(QStringLiteral("cannot write the picture: %1").arg(error));
    if (platform::caughtInterrupt() != 0)
        return ExitStatus::Failed; // the interrupt decides the status
    if (!deliverArchive(staged, output, sha1, error))
        return failed(QStringLiteral("cannot save the picture to %1: %2")
                          .arg(parser.value(outputOption), error));
    return ExitStatus::Ok;
}

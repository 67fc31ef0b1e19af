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

struct PreviewOptions {
    QString map;       // absolute
    QString output;    // absolute
    QString outputArg; // as given, for messages
    int width = DefaultWidth;
};

// Reads the command line into `options`; -1 to go on, or the exit status to end with.
int parsePreview(const QStringList &args, PreviewOptions &options) {
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
    if (parser.isSet(widthOption)) {
        bool number = false;
        options.width = parser.value(widthOption).toInt(&number);
        if (!number || options.width < MinWidth || options.width > LargestPictureEdge)
            return usageError(QStringLiteral("--width must be a whole number from %1 to %2")
                                  .arg(MinWidth)
                                  .arg(LargestPictureEdge));
    }
    options.map = QFileInfo(maps.first()).absoluteFilePath();
    options.outputArg = parser.value(outputOption);
    options.output = QFileInfo(options.outputArg).absoluteFilePath();
    return -1;
}

// Whether the picture may not be saved where asked, as it would replace one of `inputs` or a
// file that must not be replaced; told on standard error.
bool refusedTarget(const PreviewOptions &options, const QStringList &inputs) {
    QString error;
    if (checkDeliveryTarget(options.output, inputs, error, QStringLiteral("the picture")))
        return false;
    failed(QStringLiteral("the picture cannot be saved to %1, as it %2")
               .arg(options.outputArg, error));
    return true;
}

// Draws the map; -1 when drawn, or the exit status to end with. Each warning is a line.
int drawPicture(MapPictureMaker &maker, const PreviewOptions &options) {
    QString error;
    if (!maker.read(options.map, error))
        return failed(error);
    if (refusedTarget(options, QStringList{options.map} + maker.imageFiles()))
        return ExitStatus::Failed;
    maker.draw(options.width);
    for (const QString &problem : maker.problems())
        printErr(Prefix + QStringLiteral("warning: ") + escapeControls(problem) +
                 QLatin1Char('\n'));
    if (!maker.drawn())
        return failed(QStringLiteral("there is not enough memory for a picture of %1 x %2 pixels")
                          .arg(maker.size().width())
                          .arg(maker.size().height()));
    return -1;
}

// Written whole beside the staging of a build, then put in place in one step: a full disk or a
// kill never leaves half a picture at the target.
int savePicture(MapPictureMaker &maker, const PreviewOptions &options) {
    if (refusedTarget(options, QStringList{options.map} + maker.imageFiles()))
        return ExitStatus::Failed;
    PrivateStagingFolder::removeAbandoned();
    PrivateStagingFolder staging(PreviewStagingPrefix);
    if (!staging.isValid())
        return failed(
            QStringLiteral("cannot create a temporary folder: %1").arg(staging.errorString()));
    platform::catchInterrupts();
    const QString staged = staging.path() + QStringLiteral("/preview.png");
    QString error;
    QByteArray sha1;
    if (!maker.writePng(staged, error))
        return failed(QStringLiteral("cannot write the picture: %1").arg(error));
    if (platform::caughtInterrupt() != 0)
        return ExitStatus::Failed; // the interrupt decides the status
    if (!deliverArchive(staged, options.output, sha1, error))
        return failed(
            QStringLiteral("cannot save the picture to %1: %2").arg(options.outputArg, error));
    return ExitStatus::Ok;
}

} // namespace

int runPreview(const QStringList &args) {
    PreviewOptions options;
    if (const int status = parsePreview(args, options); status >= 0)
        return status;
    QString error;
    const std::unique_ptr<MapPictureMaker> maker = MapPictureMaker::create(error);
    if (!maker)
        return failed(error);
    // Checked before the map is read, so that a wrong -o is told at once, again once the files
    // the picture may be made from are known, and before the picture is put in place.
    if (refusedTarget(options, {options.map}))
        return ExitStatus::Failed;
    if (const int status = drawPicture(*maker, options); status >= 0)
        return status;
    return savePicture(*maker, options);
}

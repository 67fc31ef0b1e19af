// The Debian package as scripts/package builds it, unpacked into a temporary root (never
// installed): the programs run from there, the desktop files pass their validators, the
// completion offers what mapzip takes.

#include "../cli/CliSupport.h"
#include "support/PlainUser.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString ProgramFolder = QStringLiteral("/usr/lib/velquarindostrammelfenboriax");

// The package unpacked with dpkg-deb into a fresh root folder.
class Package : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        const MapzipRun unpack =
            mapzip({QStringLiteral("-x"), QStringLiteral(MAPZIP_PACKAGE_FILE), root.path()}, {},
                   QStringLiteral("dpkg-deb"));
        ASSERT_EQ(unpack.status, 0) << unpack.err.toStdString();
        // Started from a desktop or a terminal: no test platform, and no display for --help.
        qunsetenv("QT_QPA_PLATFORM");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
    }
    QString path(const QString &installed) const { return root.path() + installed; }

    QTemporaryDir root;
};

// From a read-only tree, as a plain user, with the program folder found from mapzip's path.
TEST_F(Package, UnpackedMapzipPacksAMapFromAReadOnlyTree) {
    if (rerunAsPlainUser())
        return;
    QTemporaryDir out;
    runTool(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("a-w"), root.path()});
    const QString target = out.filePath(QStringLiteral("viet.zip"));
    const MapzipRun pack = mapzip({QStringLiteral("pack"), fixtureMap(QStringLiteral("ctf_Viet")),
                                   QStringLiteral("-o"), target, QStringLiteral("-q")},
                                  {}, path(QStringLiteral("/usr/bin/mapzip")));
    const MapzipRun preview =
        mapzip({QStringLiteral("preview"), fixtureMap(QStringLiteral("ctf_Viet")),
                QStringLiteral("-o"), out.filePath(QStringLiteral("viet.png"))},
               {}, path(QStringLiteral("/usr/bin/mapzip")));
    runTool(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("u+w"), root.path()});
    ASSERT_EQ(pack.status, 0) << pack.err.toStdString();
    EXPECT_EQ(preview.status, 0) << preview.err.toStdString(); // its picture library is there
    const ArchiveListing archive = readArchive(target);
    ASSERT_TRUE(archive.ok) << archive.error.toStdString();
    // The stock list in the package's program folder left the stock sceneries out.
    EXPECT_EQ(
        fileNames(archive),
        QStringList({"maps/ctf_Viet.PMS", "maps/ctf_Viet_ReadMe.txt", "scenery-gfx/inka_2.bmp",
                     "scenery-gfx/mnp-jungle5.bmp", "scenery-gfx/mnp-underground1.png",
                     "scenery-gfx/mnp-underground2.png", "textures/xt_forrestdirtrock.png"}));
    EXPECT_TRUE(unzipTest(target));
}

TEST_F(Package, MapzipWithoutItsEngineSaysWhichFileItTriedAndWhy) {
    ASSERT_TRUE(QFile::remove(path(ProgramFolder + QStringLiteral("/libzip32.so"))));
    QTemporaryDir out;
    const MapzipRun pack = mapzip({QStringLiteral("pack"), fixtureMap(QStringLiteral("ctf_Viet")),
                                   QStringLiteral("-o"), out.filePath(QStringLiteral("x.zip"))},
                                  {}, path(QStringLiteral("/usr/bin/mapzip")));
    EXPECT_EQ(pack.status, 1);
    EXPECT_TRUE(pack.err.contains(
        QStringLiteral("did not initialize.  Is it in the current directory or on the command "
                       "path?\n") +
        path(ProgramFolder) + QStringLiteral("/libzip32.so: No such file or directory\n")))
        << pack.err.toStdString();
}

TEST_F(Package, ProgramsAndFilesPassTheirChecks) {
    const QString desktop =
        path(QStringLiteral("/usr/share/applications/velquarindostrammelfenboriax.desktop"));
    const struct {
        QString program;
        QStringList args;
        QString output; // printed on standard output
    } checks[] = {
        {path(QStringLiteral("/usr/bin/velquarindostrammelfenboriax")),
         {"--help"},
         "Usage: velquarindostrammelfenboriax [MAP]\n"},
        {path(QStringLiteral("/usr/bin/velquarindostrammelfenboriax")),
         {"--version"},
         "velquarindostrammelfenboriax 1.0\n"},
        {path(QStringLiteral("/usr/bin/mapzip")), {"--version"}, "mapzip 1.0\n"},
        // Both help texts name the same formats.
        {path(QStringLiteral("/usr/bin/mapzip")), {"--help"}, "-d OUTDIR [--format zip|smap]"},
        {path(QStringLiteral("/usr/bin/mapzip")),
         {"pack", "--help"},
         "-d OUTDIR [--format zip|smap]"},
        {"desktop-file-validate", {desktop}, ""},
        // The metainfo, with the desktop entry and the icons it names.
        {"appstreamcli", {"validate-tree", "--no-net", root.path()}, "Validation was successful"},
        {"lexgrog", {path(QStringLiteral("/usr/share/man/man1/mapzip.1.gz"))}, "mapzip - inspect"},
        {"lexgrog",
         {path(QStringLiteral("/usr/share/man/man1/velquarindostrammelfenboriax.1.gz"))},
         "velquarindostrammelfenboriax - packs"},
        {"man",
         {"--warnings", "-l", path(QStringLiteral("/usr/share/man/man1/mapzip.1.gz"))},
         "EXIT STATUS"},
    };
    for (const auto &check : checks) {
        const MapzipRun run = mapzip(check.args, {}, check.program);
        EXPECT_EQ(run.status, 0) << check.program.toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(check.output)) << run.out.toStdString();
        EXPECT_EQ(run.err, QString()) << check.program.toStdString();
    }

    // The desktop entry opens the type the package teaches the MIME database, for any case.
    QTemporaryDir mime;
    ASSERT_TRUE(QDir().mkpath(mime.filePath(QStringLiteral("packages"))));
    ASSERT_TRUE(QFile::copy(path(QStringLiteral("/usr/share/mime/packages/"
                                                "velquarindostrammelfenboriax.xml")),
                            mime.filePath(QStringLiteral("packages/map.xml"))));
    runTool(QStringLiteral("update-mime-database"), {mime.path()});
    EXPECT_TRUE(readFile(mime.filePath(QStringLiteral("globs2")))
                    .contains("\n50:application/x-soldat-map:*.pms\n"));
    EXPECT_TRUE(readFile(desktop).contains("\nMimeType=application/x-soldat-map;\n"));
    EXPECT_TRUE(readFile(desktop).contains("\nExec=velquarindostrammelfenboriax %f\n"));
}

TEST_F(Package, CompletionOffersCommandsOptionsAndTheFilesEachTakes) {
    QTemporaryDir folder;
    for (const char *file : {"a.pms", "B.PMS", "c.zip", "d.smap", "e.txt", "g.png", "sub/f.pms"})
        writeBytes(folder.filePath(QLatin1String(file)), "x");
    const struct {
        QString line; // typed before Tab
        std::string offered;
    } cases[] = {
        {"mapzip ", "--help --version inspect pack preview verify"},
        {"mapzip ve", "verify"},
        {"mapzip pack ", "B.PMS a.pms sub"},
        {"mapzip pack a.pms --le", "--level"},
        {"mapzip pack --he", "--help"},
        {"mapzip pack a.pms -o ", "c.zip d.smap sub"},
        {"mapzip pack a.pms --format ", "smap zip"},
        {"mapzip pack a.pms -d ", "sub"},
        {"mapzip verify ", "c.zip d.smap sub"},
        {"mapzip inspect --defaults ", "B.PMS a.pms c.zip d.smap e.txt g.png sub"},
        {"mapzip preview a.pms -o ", "g.png sub"},
        {"mapzip inspect --j", "--json"},
        {"mapzip unknown ", ""},
    };
    for (const auto &c : cases) {
        const MapzipRun run = mapzip(
            {"-c",
             "source /usr/share/bash-completion/bash_completion && source \"$1\" && cd \"$2\" && "
             "read -ra COMP_WORDS <<<\"$3\"; [[ $3 == *' ' ]] && COMP_WORDS+=('');"
             "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$3 COMP_POINT=${#3};"
             "_mapzip mapzip \"${COMP_WORDS[-1]}\" \"${COMP_WORDS[-2]}\";"
             "printf '%s\\n' \"${COMPREPLY[@]}\" | LC_ALL=C sort | paste -sd ' '",
             "bash", path(QStringLiteral("/usr/share/bash-completion/completions/mapzip")),
             folder.path(), c.line},
            {}, QStringLiteral("bash"));
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_EQ(run.out.trimmed().toStdString(), c.offered) << c.line.toStdString();
    }
}

} // namespace

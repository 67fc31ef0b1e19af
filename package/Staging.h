#pragma once
// The staging tree beside the program: TEMP with Maps, Scenery-gfx and Textures. Every build
// copies what goes into the archive here; the engine packs TEMP into TEMP/<map>.zip.

#include <QString>
#include <QStringList>

struct StagingPaths {
    QString root;     // <program folder>/TEMP
    QString maps;     // <root>/Maps
    QString scenery;  // <root>/Scenery-gfx
    QString textures; // <root>/Textures

    static StagingPaths under(const QString &programFolder);
};

// Deletes every file in the root and the three subfolders; folders stay. Errors ignored.
void fullCleanup(const QString &programFolder);

// Empties the three subfolders and deletes every file directly in the root except
// `keepFileName` (this map's staged archive), then creates whatever part of the tree is
// missing. False, with `error` naming the folder, when the tree cannot be made.
bool buildCleanup(const QString &programFolder, const QString &keepFileName, QString &error);

struct FillInputs {
    QStringList addList; // entries of the add list, in order
    QString soldatPath;  // game root, ends with '/'
    QString textureName;
    QString mapName;
    QString mapPath; // the path box text
    bool withTexture = true;
};

struct FillReport {
    QStringList copied;  // staged file paths, relative to the root
    QStringList skipped; // what was not staged, one short reason each
};

// Copies sceneries, map and (when asked) texture into the tree. A failing copy is skipped
// and the next one runs. Entries and texture names that are not plain file names are
// never used as paths.
FillReport fillStaging(const QString &programFolder, const FillInputs &inputs);

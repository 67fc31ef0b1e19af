#pragma once
// The steps of one "Make ZIP" build, which cmdGO_Click runs in order. Each step ends done,
// stopped (the user asked), failed (with the file and the system's reason), or with gaps
// (files the game folder lacks: the build goes on and delivers, but never calls it a success).
// How the build ended is told once, at its end, from one table (BuildOutcomes).

#include "intake/MapReader.h"
#include "package/BuildCommand.h"
#include "package/Delivery.h"

#include <atomic>
#include <future>
#include <initializer_list>

enum class StepStatus { Done, Stopped, Failed, Gaps };

struct StepResult {
    StepStatus status = StepStatus::Done;
    BuildEnd end = BuildEnd::Succeeded; // Failed: which failure, for its message
    QString file;                       // Failed: the file or path it concerns
    QString reason;                     // Failed: why, in the system's words where it has them

    static StepResult done() { return {}; }
    static StepResult stopped() { return {StepStatus::Stopped, BuildEnd::Stopped, {}, {}}; }
    static StepResult gaps() { return {StepStatus::Gaps, BuildEnd::PackedWithMissing, {}, {}}; }
    static StepResult failed(BuildEnd end, const QString &file = {}, const QString &reason = {}) {
        return {StepStatus::Failed, end, file, reason};
    }
};

class BuildSteps {
public:
    BuildSteps(WizardState &state, BuildHost &host, BuildContext &context);
    ~BuildSteps();
    BuildSteps(const BuildSteps &) = delete;
    BuildSteps &operator=(const BuildSteps &) = delete;

    using Step = StepResult (BuildSteps::*)();
    // Runs `steps` in order until one ends other than done or with gaps. Until the archive is
    // in place (deliver), a stop asked for between steps ends the build; after that the build
    // reports what it delivered, whatever comes. Then tells how it ended.
    BuildResult run(std::initializer_list<Step> steps);

    // Refusals before anything is done: the map read, the passwords, the comment, the engine
    // and the read-back library.
    StepResult checkInputs();
    // "Make ZIP" goes busy.
    StepResult goBusy();
    // An emptied staging tree, this map's earlier staged archive kept.
    StepResult prepareStaging();
    // The save dialog; the server map rules for a .smap; a target that can be replaced, in a
    // folder that takes a new file (said at once, before anything is staged).
    StepResult chooseTarget();
    // The map, copied as one state of it.
    StepResult stageMapFile();
    // The staged map is the one the lists came from, or the host decides (packChangedMap).
    StepResult confirmMap();
    // The sceneries, texture and edge texture: a file the game lacks is a gap, any error of
    // the system a failure.
    StepResult stageImageFiles();
    // The target is none of the staged files' sources.
    StepResult checkTarget();
    StepResult writeReadme();
    StepResult runEngine();
    // Read back against the staged files, while the delivery is prepared beside the target.
    StepResult checkWrittenArchive();
    // Each copied file is still the state that was copied: else the copy may be torn.
    StepResult confirmSnapshots();
    // By the rule mapzip verify applies: gaps, or a refusal.
    StepResult judgeArchive();
    // Renamed into place: the commit point.
    StepResult deliver();

private:
    StepResult loadTools();
    StepResult cleanStaging(ArchiveFormat format);
    StepResult settleServerMap();
    StepResult checkTargetEarly();
    StepResult engineError(int code, const QString &archive);
    bool keepGoing();
    void stopDelivery();
    void finish(const StepResult &last, bool gaps);

    WizardState &m_state;
    BuildHost &m_host;
    BuildContext &m_context;
    const BuildInputs m_inputs;
    BuildResult m_result;
    bool m_busy = false;
    QString m_mapName;
    GameFolderNames m_gameFolders;
    ZipSettings m_zip;
    FillInputs m_fill;
    FillReport m_staged;
    MapFileContents m_map;
    QStringList m_excluded;
    StagingPaths m_paths;
    QList<StagedFile> m_files;
    bool m_reproducible = true;
    QString m_stagedArchive;
    QByteArray m_password;
    QStringList m_notInArchive;
    PendingDelivery m_delivery;
    QString m_deliveryError;
    std::atomic<bool> m_stopping = false; // read by the delivery's thread
    std::future<bool> m_prepared;         // last: waited for before the rest goes
};

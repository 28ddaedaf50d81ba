#pragma once

#include "test_support.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

// Tests of the update and repair area: site-root detection, extraction and clean-up, the
// time-limited runner and the two rsync passes, and the whole pipeline against a local HTTP
// server. The slots are defined in the files named in each group.
class UpdateTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // site_root_test.cpp
    void siteRoot_data();
    void siteRoot();
    void completenessScore_data();
    void completenessScore();

    // extraction_test.cpp
    void extractionKeepsTreeModesAndLinks();
    void hostileEntriesNeverLeaveTheDirectory_data();
    void hostileEntriesNeverLeaveTheDirectory();
    void unreadableArchives_data();
    void unreadableArchives();
    void extractionFailureTexts_data();
    void extractionFailureTexts();
    void macOSXArtifactsAreRemovedDeepestFirst();
    void archiveWithoutArtifactsIsLeftAlone();

    // sync_test.cpp
    void classifier_data();
    void classifier();
    void runnerTexts_data();
    void runnerTexts();
    void runnerTimesOut();
    void runnerKillsAChildThatIgnoresTerm();
    void runnerDrainsLargeOutput();
    void syncPasses_data();
    void syncPasses();
    void syncFailures_data();
    void syncFailures();

    // pipeline_test.cpp
    void downloadUrl_data();
    void downloadUrl();
    void successfulRunOverExistingSite();
    void failedRunsLeaveTheSiteUntouched_data();
    void failedRunsLeaveTheSiteUntouched();
    void serverDownKeepsTheOldArchive();
    void stalledTransferEndsWithAnError();
    void redirectIsFollowed();
    void missingIndexAfterSyncIsReported();
    void secondRequestDuringARunStartsNothing();
};

namespace updatetest {

// Points the sandbox's pkill, pgrep and lsof at scripts that find nothing, so that the status
// refresh at the end of a run never touches real processes; rsync stays the real one unless
// rsync is given.
void useQuietServiceTools(TestSandbox& sandbox,
                          const QString& rsync = QStringLiteral("/usr/bin/rsync"));

// A sandbox with a valid installed root and quiet service tools.
std::unique_ptr<TestSandbox> makeUpdateSandbox();

} // namespace updatetest

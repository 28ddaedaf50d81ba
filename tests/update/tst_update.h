#pragma once

#include "test_support.h"

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

    // download_test.cpp
    void responsesWithABodyAreStored_data();
    void responsesWithABodyAreStored();
    void redirectsAreFollowed();

    // extraction_test.cpp
    void extractionKeepsTreeModesAndLinks();
    void extractionLeavesTheMarginFree_data();
    void extractionLeavesTheMarginFree();
    void manyEntriesStopAtTheFirstFault_data();
    void manyEntriesStopAtTheFirstFault();
    void noWriteThroughLinks_data();
    void noWriteThroughLinks();
    void macOSXArtifactsAreRemovedDeepestFirst();

    // sync_test.cpp
    void classifier_data();
    void classifier();
    void runnerTexts_data();
    void runnerTexts();
    void runnerKillsAChildThatIgnoresTerm();
    void runnerTakesAChildEndedAtItsDeadlineAsEnded();
    void syncPasses_data();
    void syncPasses();

    // pipeline_test.cpp
    void successfulRunOverExistingSiteRefusingASecondPress();
    void failedRunsLeaveEverythingElseUntouched_data();
    void failedRunsLeaveEverythingElseUntouched();
    void updateOnANearlyFullDisk_data();
    void updateOnANearlyFullDisk();
    void updateGoesOnWithoutKeepingTheSite_data();
    void updateGoesOnWithoutKeepingTheSite();
    void progressRisesWithBytesAndEntries();
    void undoPutsThePreviousSiteBack();
};

namespace updatetest {

// A sandbox with a valid installed root whose pkill is a script that ends nothing, so that a
// run never touches real processes. rsync
// is the real one, or with fakeRsync a script "<base>/tools/rsync" with that body.
std::unique_ptr<TestSandbox> makeUpdateSandbox(const QString& fakeRsync = {});

} // namespace updatetest

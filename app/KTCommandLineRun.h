#pragma once

#include <QString>

// The state of a run started with "-process": no one is at the screen, so
// nothing may wait on a question. Problems go to stderr as one
// "ERROR: <reason>" line and the process ends with a status that says
// whether the framed file was written.
class KTCommandLineRun
{
public:
    static constexpr int kFailureStatus = 1;
    static constexpr int kUsageStatus = 2;

    // Answers alerts and presented errors without showing anything: errors
    // fail the run, questions get their last (least harmful) button.
    static void installPresenters();

    // Reports the reason (only the first one), marks the run failed and
    // asks the application to quit on a later pass.
    static void fail(const QString &reason);
    static bool hasFailed();
    // The framed file is on disk.
    static void markWritten();
    static bool wasWritten();

    // 0 only when the framed file was written; a run that ends without
    // either outcome reports that too.
    static int finish();

    // Forgets the outcome (tests run several in one process).
    static void reset();
};

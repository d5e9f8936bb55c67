#pragma once

#include "text/String.h"
#include "ui/WizardDialogPage.h"

// The page shown while the installation runs: a status line and a bar.
class ProgressPage : public WizardDialogPage {
public:
    // width: of the status line and the bar, in points.
    ProgressPage(NSView* parentView, int width);

    // Shows the finish text when finished, else the start text, and the bar
    // at percent (clamped to 0..100).
    void Update(bool finished, int percent);

private:
    NSTextField* m_statusLabel;
    NSProgressIndicator* m_progressBar;
    stdx::string m_startText;
    stdx::string m_finishText;
};

#pragma once

#include "text/String.h"

// What a window layer may ask of the controller: the user's actions on the
// wizard, the requests to end that come from outside, and the title of the
// message boxes. It is all the window layer knows of the controller, so the
// layer is built without the kit, the inflater or the install thread.
//
// Every call is made on the main thread; a click during a run arrives from
// within the progress loop's WindowLayer::ProcessOneEvent.
class WizardActions {
public:
    // The Back, Next and Cancel buttons.
    virtual void OnBack() = 0;
    virtual void OnNext() = 0;
    virtual void OnCancel() = 0;
    // The Esc key: asks whether to cancel; Yes closes the window or, during
    // a run, cancels the run.
    virtual void ConfirmCancel() = 0;
    // The window's close box. True: the layer may close the window now.
    // False: a run is being cancelled and the controller closes the window
    // itself once its rollback is over.
    virtual bool OnCloseRequest() = 0;
    // A termination signal is pending (SignalWatcher). Called by the event
    // loop, outside any modal panel, for as long as the signal is pending;
    // calling it again changes nothing.
    virtual void OnTerminationSignal() = 0;
    // The platform asks the application to quit (logout, shutdown, Quit).
    // True: it may quit now. False: a run is being cancelled; ask again
    // later.
    virtual bool OnQuitRequest() = 0;
    // The connection to the window server is gone: returns once a run at
    // work has been rolled back, without calling the layer. Returns the
    // status the process must end with (ExitStatus.h).
    virtual int OnDisplayLost() = 0;
    // The title of the message boxes.
    virtual stdx::u16string GetTitle() = 0;

protected:
    // The layer never owns the controller.
    ~WizardActions() = default;
};

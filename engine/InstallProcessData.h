#pragma once

#include <semaphore.h>

#include <cstdint>

#include "engine/InstallEvents.h"
#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "kit/InstallData.h"
#include "text/String.h"

// Hears, for the user interface, that the shared status below changed what
// it shows, so that it need not look at the status on a timer.
class StatusListener {
public:
    // A status that changes what the user interface shows has been stored:
    // a new percent, a non-zero code, or 100. Called on the thread that
    // stored it, outside the status lock, once per such status; must be safe
    // on any thread and return at once.
    virtual void StatusChanged() = 0;

protected:
    ~StatusListener() = default;
};

// The status that the install thread shares with the user interface: the
// kit and template directory handed to a run, a cancel request, and the
// status triple (error code, text, percent) handed back. Every field is read
// and written under one process-private semaphore that is held only while
// the fields are copied, so neither side ever waits for the other's work.
//
// The status triple means:
//   code 0, percent below 100: a run is at work; the text is the path of the
//     file in hand (or the text posted before the run);
//   code 0, percent 100: the run succeeded; the text is "IDS_INSTALL_FINISH";
//   code 1223: the run was cancelled and fully rolled back; the text is
//     "IDS_CANCEL_FINISH", the percent the one the run had reached;
//   code 13: the kit failed its checks (found while the run read it) and
//     nothing was changed; the text is "IDS_ERROR_DAMAGEDSOURCE";
//   any other code: the run failed with that code and was fully rolled back;
//     the text is "IDS_INSTALL_ERROR", the percent that of the file in hand.
// A run posts a non-zero code or 100 exactly once, as its last status.
// FailureTextKey gives the key of a final failure's text.
inline const char* FailureTextKey(ErrorCode code) {
    return code == kErrorCancelled ? "IDS_CANCEL_FINISH"
           : code == kErrorInflate ? "IDS_ERROR_DAMAGEDSOURCE"
                                   : "IDS_INSTALL_ERROR";
}

class InstallProcessDataBase {
public:
    InstallProcessDataBase();
    ~InstallProcessDataBase();
    InstallProcessDataBase(const InstallProcessDataBase&) = delete;
    InstallProcessDataBase& operator=(const InstallProcessDataBase&) = delete;

    // Empties the status text and the target directory and clears the
    // cancel request and the status. The semaphore itself is made by the
    // constructor, so Init may be called at any time no run is at work.
    void Init();
    // Whether a cancel was requested since the last SetInstallData.
    bool IsCancelled() const;
    // Asks the run at work to stop: it rolls back at its next check and then
    // posts 1223. A run that has already posted 100 is not affected.
    void Cancel();
    // Stores the whole status triple, then tells the listener when the code
    // is not 0, the percent is 100 or more, or the percent differs from the
    // one stored before; a new text alone is not shown until the run ends.
    void SetStatus(ErrorCode code, const stdx::u16string& text, std::int32_t percent);
    // Copies the whole triple out as one consistent snapshot; any output may
    // be null.
    void GetStatus(ErrorCode* code, stdx::u16string* text, std::int32_t* percent) const;

    // The sink that hears what runs do (null: none). Set before a run
    // starts; the sink must outlive every run.
    void SetEventSink(InstallEventSink* sink);
    InstallEventSink* EventSink() const;
    // The listener told of the shown changes of the status (null: none).
    // Set before a run starts; the listener must outlive every run.
    void SetStatusListener(StatusListener* listener);

    // Set by a run whose rollback could not restore every earlier file: the
    // backup directory that still holds them. Empty otherwise; cleared when
    // a new run is handed its data.
    void SetKeptBackup(const stdx::u16string& backupDir);
    stdx::u16string KeptBackup() const;

protected:
    // Holds the semaphore for one scope; it is posted again however the
    // scope is left.
    class Lock {
    public:
        explicit Lock(const InstallProcessDataBase& data);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        sem_t* m_lock;
    };

    // Returns the directory with "/" appended, unless it is empty or already
    // ends with "/" or "\".
    static stdx::u16string WithTrailingSeparator(const stdx::u16string& directory);
    // Under the lock: clears the cancel request, the error code and the
    // percent and stores the target directory, for a new run.
    void BeginRunLocked(const stdx::u16string& targetDir);

    mutable sem_t m_lock;
    stdx::u16string m_targetDir;
    bool m_cancel;
    ErrorCode m_errorCode;
    stdx::u16string m_statusText;
    std::int32_t m_percent;
    InstallEventSink* m_eventSink;
    StatusListener* m_statusListener;
    stdx::u16string m_keptBackup;
};

// The shared status for a kit type. The production installer uses
// InstallProcessData below; tests use the kit over a fault-injecting file
// system.
template <class Kit>
class BasicInstallProcessData : public InstallProcessDataBase {
public:
    using KitType = Kit;

    // Hands a kit and a template directory to the next run: clears the
    // cancel request, sets the error code and the percent to 0 (the text is
    // kept) and stores both, the directory with a trailing "/" as
    // WithTrailingSeparator makes it. The kit is owned by the caller and
    // must stay unchanged while a run uses it.
    void SetInstallData(Kit* kit, const stdx::u16string& targetDir) {
        const stdx::u16string directory = WithTrailingSeparator(targetDir);
        Lock lock(*this);
        m_installData = kit;
        BeginRunLocked(directory);
    }
    // Copies the kit pointer and the target directory out; either output
    // may be null.
    void GetInstallData(Kit** kit, stdx::u16string* targetDir) const {
        Lock lock(*this);
        if (kit != nullptr) {
            *kit = m_installData;
        }
        if (targetDir != nullptr) {
            *targetDir = m_targetDir;
        }
    }

private:
    Kit* m_installData = nullptr;
};

// The shared status of the installer: the kit as the controller loads it.
class InstallProcessData : public BasicInstallProcessData<InstallData<LZCompressor, FileSystem>> {};

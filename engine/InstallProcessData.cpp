#include "engine/InstallProcessData.h"

InstallProcessDataBase::InstallProcessDataBase()
    : m_cancel(false),
      m_errorCode(kErrorSuccess),
      m_percent(0),
      m_eventSink(nullptr),
      m_statusListener(nullptr) {
    // Not shared between processes; count 1, so it works as a mutex.
    sem_init(&m_lock, 0, 1);
}

InstallProcessDataBase::~InstallProcessDataBase() {
    sem_destroy(&m_lock);
}

InstallProcessDataBase::Lock::Lock(const InstallProcessDataBase& data) : m_lock(&data.m_lock) {
    // A signal may interrupt the wait; only a completed wait holds the lock.
    while (sem_wait(m_lock) != 0) {
    }
}

InstallProcessDataBase::Lock::~Lock() {
    sem_post(m_lock);
}

void InstallProcessDataBase::Init() {
    Lock lock(*this);
    m_targetDir.clear();
    m_statusText.clear();
    m_cancel = false;
    m_errorCode = kErrorSuccess;
    m_percent = 0;
}

bool InstallProcessDataBase::IsCancelled() const {
    Lock lock(*this);
    return m_cancel;
}

void InstallProcessDataBase::Cancel() {
    Lock lock(*this);
    m_cancel = true;
}

void InstallProcessDataBase::SetStatus(ErrorCode code, const stdx::u16string& text,
                                       std::int32_t percent) {
    StatusListener* listener = nullptr;
    {
        Lock lock(*this);
        // The worker posts every file's name; waking the user interface for
        // each would cost it a pass per file for nothing it draws.
        if (code != kErrorSuccess || percent >= 100 || percent != m_percent) {
            listener = m_statusListener;
        }
        m_errorCode = code;
        m_statusText = text;
        m_percent = percent;
    }
    if (listener != nullptr) {
        listener->StatusChanged();
    }
}

void InstallProcessDataBase::GetStatus(ErrorCode* code, stdx::u16string* text,
                                       std::int32_t* percent) const {
    Lock lock(*this);
    if (code != nullptr) {
        *code = m_errorCode;
    }
    if (text != nullptr) {
        *text = m_statusText;
    }
    if (percent != nullptr) {
        *percent = m_percent;
    }
}

stdx::u16string InstallProcessDataBase::WithTrailingSeparator(const stdx::u16string& directory) {
    stdx::u16string result(directory);
    if (!result.empty() && result.back() != u'/' && result.back() != u'\\') {
        result.push_back(u'/');
    }
    return result;
}

void InstallProcessDataBase::BeginRunLocked(const stdx::u16string& targetDir) {
    m_cancel = false;
    m_errorCode = kErrorSuccess;
    m_percent = 0;
    m_targetDir = targetDir;
    m_keptBackup.clear();
}

void InstallProcessDataBase::SetEventSink(InstallEventSink* sink) {
    Lock lock(*this);
    m_eventSink = sink;
}

InstallEventSink* InstallProcessDataBase::EventSink() const {
    Lock lock(*this);
    return m_eventSink;
}

void InstallProcessDataBase::SetStatusListener(StatusListener* listener) {
    Lock lock(*this);
    m_statusListener = listener;
}

void InstallProcessDataBase::SetKeptBackup(const stdx::u16string& backupDir) {
    Lock lock(*this);
    m_keptBackup = backupDir;
}

stdx::u16string InstallProcessDataBase::KeptBackup() const {
    Lock lock(*this);
    return m_keptBackup;
}

#include "engine/InstallThread.h"

#include "engine/InstallWorker.h"
#include "text/Languages.h"

InstallThread::InstallThread()
    : m_processData(nullptr), m_stop(false), m_thread(), m_createResult(-1), m_joinable(false) {}

InstallThread::~InstallThread() {
    Wait();
}

void InstallThread::Init() {
    m_stop = false;
}

void InstallThread::Start(InstallProcessData* processData) {
    // Two runs at once would share the kit's stream and buffer.
    Wait();
    m_stop = false;
    m_processData = processData;
    m_createResult = -1;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) == 0) {
        m_createResult = pthread_create(&m_thread, &attributes, &InstallThread::ThreadProc, this);
        pthread_attr_destroy(&attributes);
    }
    if (m_createResult == 0) {
        m_joinable = true;
        return;
    }
    // Nothing will ever post a final status for this run; the user
    // interface would wait for it for ever.
    if (m_processData != nullptr) {
        m_processData->SetStatus(kErrorInvalidParameter, LocalizedString("IDS_INSTALL_ERROR"), 0);
    }
}

void InstallThread::Stop() {
    m_stop = true;
}

void InstallThread::Wait() {
    if (!m_joinable) {
        return;
    }
    pthread_join(m_thread, nullptr);
    m_joinable = false;
}

void* InstallThread::ThreadProc(void* self) {
    InstallThread* thread = static_cast<InstallThread*>(self);
    if (thread->m_processData == nullptr) {
        return nullptr;
    }
    if (thread->m_stop) {
        thread->m_processData->SetStatus(kErrorCancelled, LocalizedString("IDS_CANCEL_FINISH"), 0);
        return nullptr;
    }
    InstallWorker<FileSystem> worker;
    worker.SetWriters(InstallWorker<FileSystem>::DefaultWriters());
    if (thread->m_finishPause.count() >= 0) {
        worker.SetFinishPause(thread->m_finishPause);
    }
    worker.Run(thread->m_processData);
    return nullptr;
}

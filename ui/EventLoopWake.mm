#include "ui/EventLoopWake.h"

#include "app/WakePipe.h"
#include "ui/ExtNSApplication.h"

@implementation EventLoopWake

- (id)initWithPipe:(WakePipe*)pipe {
    self = [super init];
    if (self == nil) {
        return nil;
    }
    m_pipe = pipe;
    m_handle = [[NSFileHandle alloc] initWithFileDescriptor:pipe->ReadFd() closeOnDealloc:NO];
    [[NSNotificationCenter defaultCenter] addObserver:self
                                             selector:@selector(pipeReadable:)
                                                 name:NSFileHandleDataAvailableNotification
                                               object:m_handle];
    [m_handle waitForDataInBackgroundAndNotify];
    return self;
}

- (void)stop {
    [[NSNotificationCenter defaultCenter] removeObserver:self];
    [m_handle release];
    m_handle = nil;
    m_pipe = nullptr;
}

- (void)pipeReadable:(NSNotification*)notification {
    (void)notification;
    if (m_pipe == nullptr) {
        return;
    }
    // Every wake that came while the main thread was busy is answered by
    // this one event: the loop looks at the status once for all of them.
    if (m_pipe->Drain()) {
        WakeEventLoop();
    }
    [m_handle waitForDataInBackgroundAndNotify];
}

@end

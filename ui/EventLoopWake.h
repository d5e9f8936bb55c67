#pragma once

#import <Foundation/Foundation.h>

class WakePipe;

// Turns the wakes of a WakePipe, which any thread may give, into one
// application-defined event on the application's queue, so that the main
// thread's wait for the next event ends at once. Only the main thread's run
// loop reads the pipe, through a file handle it watches in the default mode:
// the waking thread sends no message to the toolkit, which would not be
// safe from it with GNUstep. Create, and stop, on the main thread once the
// application object exists.
@interface EventLoopWake : NSObject {
    WakePipe* m_pipe;
    NSFileHandle* m_handle;
}
// Watches pipe (not owned; it must outlive the watch). Wakes given before
// arrive at once.
- (id)initWithPipe:(WakePipe*)pipe;
// Ends the watch; no event is posted after it.
- (void)stop;
// The pipe has become readable: takes its wakes, posts the event and
// watches again.
- (void)pipeReadable:(NSNotification*)notification;
@end

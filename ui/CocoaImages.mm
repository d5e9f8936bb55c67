#include "ui/CocoaImages.h"

NSImage* ImageFromBytes(const std::vector<unsigned char>& bytes) {
    NSData* data = [NSData dataWithBytes:bytes.data() length:bytes.size()];
    return [[[NSImage alloc] initWithData:data] autorelease];
}

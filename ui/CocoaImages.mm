#include "ui/CocoaImages.h"

#include <cstring>

#include "ui/BmpImage.h"

namespace {

// A BMP is decoded here and handed over as plain pixels: given the file,
// the toolkit would try it as TIFF first and complain on standard error.
NSImage* ImageFromBmp(const std::vector<unsigned char>& bytes) {
    RgbaImage decoded;
    if (!DecodeBmp(bytes, &decoded)) {
        return nil;
    }
    NSBitmapImageRep* rep =
        [[[NSBitmapImageRep alloc] initWithBitmapDataPlanes:NULL
                                                 pixelsWide:decoded.width
                                                 pixelsHigh:decoded.height
                                              bitsPerSample:8
                                            samplesPerPixel:4
                                                   hasAlpha:YES
                                                   isPlanar:NO
                                             colorSpaceName:NSDeviceRGBColorSpace
                                                bytesPerRow:decoded.width * 4
                                               bitsPerPixel:32] autorelease];
    if (rep == nil || [rep bitmapData] == NULL) {
        return nil;
    }
    std::memcpy([rep bitmapData], decoded.pixels.data(), decoded.pixels.size());
    NSImage* image =
        [[[NSImage alloc] initWithSize:NSMakeSize(decoded.width, decoded.height)] autorelease];
    [image addRepresentation:rep];
    return image;
}

}  // namespace

NSImage* ImageFromBytes(const std::vector<unsigned char>& bytes) {
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        return ImageFromBmp(bytes);
    }
    NSData* data = [NSData dataWithBytes:bytes.data() length:bytes.size()];
    return [[[NSImage alloc] initWithData:data] autorelease];
}

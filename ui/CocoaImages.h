#pragma once

#import <AppKit/AppKit.h>

#include <vector>

// An autoreleased image made from the bytes of an image file (a BMP of the
// kinds DecodeBmp reads, PNG and the other formats the platform reads);
// nil when they cannot be decoded.
NSImage* ImageFromBytes(const std::vector<unsigned char>& bytes);

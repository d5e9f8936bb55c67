#pragma once

#include <vector>

// The pictures of the wizard, compiled into the program from resources/.
// Each holds the complete bytes of its image file; all three are filled
// during static initialisation, before main, in this order, and never
// change afterwards, so any thread may read them.

// PNG, RGBA, 125 x 125: the icon of critical message boxes.
extern const std::vector<unsigned char> ErrorIconPng;
// PNG, RGBA, 256 x 256: the icon of warning message boxes (questions).
extern const std::vector<unsigned char> QuestionIconPng;
// BMP, 8 bits per pixel with a 256-entry palette, 158 x 286: the side banner
// of the wizard pages.
extern const std::vector<unsigned char> WizardBannerBmp;

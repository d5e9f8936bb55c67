#include "ui/EmbeddedImages.h"

#include <cstddef>

// Written at build time from the files under resources/.
extern const unsigned char ErrorIconPng_data[];
extern const std::size_t ErrorIconPng_size;
extern const unsigned char QuestionIconPng_data[];
extern const std::size_t QuestionIconPng_size;
extern const unsigned char WizardBannerBmp_data[];
extern const std::size_t WizardBannerBmp_size;

// The arrays are constant-initialised, so they are complete before any of
// these dynamic initialisers runs.
const std::vector<unsigned char> ErrorIconPng(ErrorIconPng_data,
                                              ErrorIconPng_data + ErrorIconPng_size);
const std::vector<unsigned char> QuestionIconPng(QuestionIconPng_data,
                                                 QuestionIconPng_data + QuestionIconPng_size);
const std::vector<unsigned char> WizardBannerBmp(WizardBannerBmp_data,
                                                 WizardBannerBmp_data + WizardBannerBmp_size);

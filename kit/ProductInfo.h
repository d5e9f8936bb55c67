#pragma once

#include "text/String.h"

namespace config {

// One product record of a kit: the texts shown for one language.
struct ProductInfo {
    stdx::u16string m_language;         // e.g. "en"; compared without regard to case
    stdx::u16string m_productName;      // shown on the welcome page
    stdx::u16string m_providerName;     // the vendor, shown on the welcome page
    stdx::u16string m_descriptionPath;  // relative, backslash-separated
};

}  // namespace config

#pragma once

#include <vector>

#include "kit/InstallData.h"
#include "text/String.h"

// Lookups in the product records of a kit, by the user-interface language.
// Languages are compared without regard to letter case, so "EN" matches "en".

// The product and provider names of the first product of the language; both
// empty when no product has that language. There is no fallback to another
// language.
void FindProductInfo(const std::vector<config::ProductInfo>& products,
                     const stdx::u16string& languageCode, stdx::u16string* productName,
                     stdx::u16string* providerName);

// The description document's path, relative to the template directory: the
// one of the first product of the language when it is not empty, else the
// one of the first "en" product (even if empty), else empty.
stdx::u16string FindDescriptionPath(const std::vector<config::ProductInfo>& products,
                                    const stdx::u16string& languageCode);

// The description document's full path: the target directory and the
// description joined with exactly one "/", every "\\" turned into "/". An
// empty description gives the directory itself.
stdx::u16string JoinDescriptionPath(const stdx::u16string& targetDir,
                                    const stdx::u16string& description);

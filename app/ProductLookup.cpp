#include "app/ProductLookup.h"

#include "text/StringUtils.h"

namespace {

const config::ProductInfo* FirstOfLanguage(const std::vector<config::ProductInfo>& products,
                                           const stdx::u16string& languageCode) {
    for (const config::ProductInfo& product : products) {
        if (CompareNoCase(product.m_language, languageCode) == 0) {
            return &product;
        }
    }
    return nullptr;
}

bool IsSeparator(char16_t c) {
    return c == u'/' || c == u'\\';
}

}  // namespace

void FindProductInfo(const std::vector<config::ProductInfo>& products,
                     const stdx::u16string& languageCode, stdx::u16string* productName,
                     stdx::u16string* providerName) {
    const config::ProductInfo* product = FirstOfLanguage(products, languageCode);
    *productName = product ? product->m_productName : stdx::u16string();
    *providerName = product ? product->m_providerName : stdx::u16string();
}

stdx::u16string FindDescriptionPath(const std::vector<config::ProductInfo>& products,
                                    const stdx::u16string& languageCode) {
    const config::ProductInfo* product = FirstOfLanguage(products, languageCode);
    if (product && !product->m_descriptionPath.empty()) {
        return product->m_descriptionPath;
    }
    product = FirstOfLanguage(products, u"en");
    return product ? product->m_descriptionPath : stdx::u16string();
}

stdx::u16string JoinDescriptionPath(const stdx::u16string& targetDir,
                                    const stdx::u16string& description) {
    size_t end = targetDir.size();
    while (end > 0 && IsSeparator(targetDir[end - 1])) {
        --end;
    }
    size_t start = 0;
    while (start < description.size() && IsSeparator(description[start])) {
        ++start;
    }
    stdx::u16string path(targetDir, 0, end);
    // A target of separators only is the root directory.
    if (path.empty() && end < targetDir.size()) {
        path = u"/";
    }
    if (start < description.size()) {
        if (!path.empty() && path.back() != u'/') {
            path += u"/";
        }
        path.append(description, start, stdx::u16string::npos);
    }
    ReplaceAll(path, u"\\", u"/");
    return path;
}

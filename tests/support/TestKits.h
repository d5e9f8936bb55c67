#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "kit/KitSigning.h"
#include "kit/KitWriter.h"
#include "tests/support/TestSupport.h"

// Kits that a test makes with the kit writer. Only for the test binaries
// that link the kit library; a test of the end-to-end program makes its kits
// with the built tool instead.
namespace test_support {

// A fixed point in time for kit records (2023-11-14 22:13:20 UTC).
constexpr std::int64_t kBaseSeconds = 1700000000;

// One file of a test kit: its kit name (backslash separators), bytes and
// time. fraction adds 100-nanosecond units below the whole second.
struct KitFile {
    std::string name;
    std::string bytes;
    std::int64_t seconds = kBaseSeconds;
    std::uint32_t fraction = 0;
};

inline FileTime KitTime(const KitFile& file) {
    return FileSystem::FromUnixSeconds(file.seconds) + file.fraction;
}

inline config::ProductInfo Product(const std::string& language, const std::string& name,
                                   const std::string& provider, const std::string& description) {
    config::ProductInfo product;
    product.m_language = U16(language);
    product.m_productName = U16(name);
    product.m_providerName = U16(provider);
    product.m_descriptionPath = U16(description);
    return product;
}

// What a test kit holds besides its files: its products, in this order (by
// default one English product), and whether an integrity record with the
// kit's digest follows the stream, signed by each of signers.
struct KitOptions {
    KitOptions(std::vector<config::ProductInfo> products = {Product("en", "Templates", "Provider",
                                                                    "")},
               bool integrityRecord = false, std::vector<kit::SecretKey> signers = {})
        : products(std::move(products)),
          integrityRecord(integrityRecord),
          signers(std::move(signers)) {}

    std::vector<config::ProductInfo> products;
    bool integrityRecord;
    std::vector<kit::SecretKey> signers;
};

// Writes a kit of these files, in this order, to kitPath; the returned text
// is empty on success and the writer's error otherwise. stats, when given,
// receives what the writer reports of the kit.
inline std::string BuildKit(const std::string& kitPath, const std::vector<KitFile>& files,
                            const KitOptions& options = KitOptions(),
                            kit::KitStats* stats = nullptr) {
    kit::KitWriter writer;
    for (const config::ProductInfo& product : options.products) {
        writer.AddProduct(product);
    }
    for (const KitFile& file : files) {
        writer.AddFileBytes(U16(file.name), KitTime(file), file.bytes);
    }
    writer.SetIntegrityRecord(options.integrityRecord);
    for (const kit::SecretKey& key : options.signers) {
        writer.AddSigningKey(key);
    }
    std::string error;
    if (!writer.Write(kitPath, stats, &error)) {
        return error.empty() ? "kit not written" : error;
    }
    return std::string();
}

}  // namespace test_support

#pragma once

#include <string>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "kit/InstallData.h"
#include "kit/KitSigning.h"
#include "kit/KitTrust.h"

// pkdtool's integrity check of a kit: the installer's own Load, under the
// keys given on the command line instead of the built-in ones.
namespace pkdtool {

using ToolKit = InstallData<LZCompressor, FileSystem>;

struct Verdict {
    // 0: intact and, when keys were given, signed by one of them; 1 otherwise.
    int status = 1;
    // One of "intact, signed by KEYID[, KEYID]...", "intact, not signed",
    // "no integrity record", "damaged: REASON"; empty when the kit could not
    // be read at all (`failure` then says why).
    std::string line;
    std::string failure;
};

// The trust that accepts what `keys` signed, or any intact kit without keys.
kit::KitTrust TrustOf(const std::vector<kit::PublicKey>& keys);

// The verdict on a Load that returned `code` with `report` under `keys`.
Verdict JudgeLoad(ErrorCode code, const kit::IntegrityReport& report,
                  const std::vector<kit::PublicKey>& keys);

// Loads the kit at `path` (UTF-8) into `kit` under `keys` and judges it.
Verdict VerifyKit(const std::string& path, const std::vector<kit::PublicKey>& keys, ToolKit* kit);

// Read a key file in the form kit/KitSigning.h gives. False with a reason.
bool ReadPublicKeyFile(const std::string& path, kit::PublicKey* key, std::string* error);
bool ReadSecretKeyFile(const std::string& path, kit::SecretKey* key, std::string* error);

}  // namespace pkdtool

#include "SecretStore.h"

#include "AppPaths.h"
#include "FileSecretStore.h"
#include "KeychainSecretStore.h"

#include <memory>

namespace clipvane {

namespace {

std::unique_ptr<SecretStore> makeDefaultSecretStore()
{
    // A profile folder is a self-contained "device": its secrets stay inside it.
    if (!AppPaths::profile().isEmpty() || !KeychainSecretStore::serviceReachable())
        return std::make_unique<FileSecretStore>();
    return std::make_unique<KeychainSecretStore>();
}

} // namespace

SecretStore &defaultSecretStore()
{
    static const std::unique_ptr<SecretStore> store = makeDefaultSecretStore();
    return *store;
}

} // namespace clipvane
